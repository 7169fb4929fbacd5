// Prepares a wave file for DTMF decoding: converts it to 16-bit stereo PCM at
// 44100 Hz ("_acm") and normalises the result to full scale ("_norm").
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "MMPCMSup.h"
#include "WaveNormalizer.h"

namespace tv {

// Bytes of audio a file of `sourceBytes` bytes in `source`'s format takes
// once converted to 16-bit stereo PCM at 44100 Hz.
int64_t ConvertedSize(int64_t sourceBytes, const WAVEFORMATEX* source);

// Why `needed` bytes cannot be written to `target`'s folder (it cannot be
// written, or its disk lacks the room), or "" when neither is the case.
std::string WriteProblem(const std::string& target, int64_t needed);

class DtmfConverter {
 public:
  // Conversion progress in percent, as the converter's gauge shows it.
  std::function<void(int percent)> OnConvertProgress;
  // The normalisation, with its own progress and peak reports.
  WaveNormalizer& Normalizer() { return normalizer_; }
  // Where the files go; empty means beside the source, as the desktop
  // program keeps them.
  const std::string& OutputFolder() const { return outputFolder_; }
  void SetOutputFolder(std::string folder) { outputFolder_ = std::move(folder); }

  // Converts a file and answers the converted file's name. A recording in
  // another format we can decode (mu-law, A-law, ADPCM, float, MP3, FLAC,
  // Ogg) is decoded to PCM first; for one we cannot decode this answers ""
  // and writes nothing. Errors propagate, naming their cause (a folder that
  // cannot be written, a full disk, the 4 GB limit of wave files).
  std::string ConvertForDtmf(const std::string& source);

  // Normalises a file and answers the name of the file to use next: the
  // "_norm" file, or the given name itself when no gain applies (already at
  // full scale, or silent). An empty name or a file that is not PCM answers ""
  // and writes nothing.
  std::string NormalizeFile(const std::string& name);

  // The outcome of the last NormalizeFile.
  const NormalizeOutcome& LastNormalize() const { return last_; }

 private:
  std::string Target(const std::string& name, const std::string& suffix) const;
  // Converts the PCM wave `file` into `converted` (by default its "_acm"
  // name); progress runs from `from` to `to` percent.
  std::string ConvertPcm(const std::string& file, std::string converted, int from, int to);
  void Report(int percent);
  WaveNormalizer normalizer_;
  std::string outputFolder_;
  NormalizeOutcome last_;
};

}  // namespace tv
