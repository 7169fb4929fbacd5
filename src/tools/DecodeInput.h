// Recordings of any kind we can read, made ready for the DTMF converter:
// mu-law, A-law and ADPCM wave files, 24/32-bit and float wave files, MP3,
// FLAC and Ogg are decoded to a 16-bit PCM wave file first; 8/16-bit PCM
// wave files are used as they are.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "MMPCMSup.h"

namespace tv {

// Why a file cannot be decoded, naming its format ("not a format we can
// decode (GSM 6.10)"), or nothing when it can.
std::optional<std::string> DecodableAudioProblem(const std::string& file);

// True when the DTMF converter takes the file as it is.
bool IsPlainPcmWave(const std::string& file);

// Answers the wave file to hand to the DTMF converter: `source` itself for
// a plain PCM wave, else a decoded copy named B + "_pcm.wav" (B: the source
// name without its extension) in `folder`, or beside the source when
// `folder` is empty. Errors of the readers and the writer propagate;
// nothing is left behind on failure.
std::string PrepareForDecoding(const std::string& source, const std::string& folder = {},
                               const std::function<void(int percent)>& progress = {});

// Decodes `source` into the 16-bit PCM wave file `target` (written under a
// work name and renamed when complete).
void PrepareForDecodingAs(const std::string& source, const std::string& target,
                          const std::function<void(int percent)>& progress = {});

// The format of a wave file's header as a message names it: "IEEE float,
// 32 bits", "PCM, 24 bits", the sub-format of an extensible header, or the
// name of the format tag.
std::string AudioFormatName(const WAVEFORMATEX* format);

}  // namespace tv
