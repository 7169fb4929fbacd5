#include "DecodeInput.h"

#include <cstring>
#include <filesystem>

#include "AudioFileConverter.h"
#include "MMACMCvt.h"
#include "TMMAudioFile.h"
#include "MMMPEG.h"
#include "TMMWave.h"
#include "WaveNames.h"

namespace tv {

namespace fs = std::filesystem;

namespace {

std::string FormatNumbers(const WAVEFORMATEX* f) {
  return std::to_string(f->wBitsPerSample) + " bits, " + std::to_string(f->nChannels) + " channels, " +
         std::to_string(f->nSamplesPerSec) + " Hz";
}

uint16_t SubFormatTag(const WAVEFORMATEX* f) {
  static constexpr uint8_t kBaseGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                                0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
  if (f->cbSize < 22) return 0;
  const uint8_t* guid = WaveFormatExtra(f) + 6;
  if (std::memcmp(guid + 2, kBaseGuidTail, sizeof kBaseGuidTail) != 0) return 0;
  return static_cast<uint16_t>(guid[0] | (guid[1] << 8));
}

std::string TagOnlyName(uint16_t tag, uint16_t bits) {
  const std::string width = std::to_string(bits) + " bits";
  if (tag == WAVE_FORMAT_PCM) return "PCM, " + width;
  if (tag == WAVE_FORMAT_IEEE_FLOAT) return "IEEE float, " + width;
  WAVEFORMATEX f{};
  f.wFormatTag = tag;
  const std::string name = FormatTagName(&f);
  if (name != "Unknown") return name;
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%04X", tag);
  return std::string("format tag ") + hex;
}

}  // namespace

std::string AudioFormatName(const WAVEFORMATEX* f) {
  if (f == nullptr) return "no format";
  if (f->wFormatTag == WAVE_FORMAT_EXTENSIBLE) {
    const uint16_t sub = SubFormatTag(f);
    if (sub == 0) return "extensible format with an unknown sub-format";
    return "extensible " + TagOnlyName(sub, f->wBitsPerSample);
  }
  return TagOnlyName(f->wFormatTag, f->wBitsPerSample);
}

bool IsPlainPcmWave(const std::string& file) {
  WaveFileInfo info;
  if (ScanWaveFile(file, info) != wrOk || !info.Format) return false;
  const WAVEFORMATEX* f = info.Format.get();
  return f->wFormatTag == WAVE_FORMAT_PCM && PcmFormatSupported(f);
}

std::optional<std::string> DecodableAudioProblem(const std::string& file) {
  WaveFileInfo info;
  if (ScanWaveFile(file, info) == wrOk && info.Format) {
    const WAVEFORMATEX* f = info.Format.get();
    if (f->wFormatTag == WAVE_FORMAT_MPEG || f->wFormatTag == WAVE_FORMAT_MPEGLAYER3) {
      // The MPEG reader takes such a file under an MPEG name only.
      if (!MpegDecoderAvailable()) return "MPEG audio needs the decoder library: " + MpegLoadError();
      if (TMMMPEGFile::CanOpenMpegFile(file)) return std::nullopt;
      return "not a format we can decode (" + FormatTagName(f) + " inside a wave file)";
    }
    if (f->wFormatTag == WAVE_FORMAT_PCM && PcmFormatSupported(f)) return std::nullopt;
    const std::string problem = ConversionProblem(f);
    if (!problem.empty()) {
      // The tag table knows tag 3 by an old ADPCM name and the extensible
      // header not at all: name them as they are.
      std::string named = problem;
      std::string table = FormatTagName(f);
      if (table == "Unknown") {
        char hex[32];
        std::snprintf(hex, sizeof hex, "format tag 0x%04X", f->wFormatTag);
        table = hex;
      }
      if (named.rfind(table, 0) == 0) named = AudioFormatName(f) + named.substr(table.size());
      return "not a format we can decode (" + named + ")";
    }
    WaveFormatPtr pcm = SuggestPcm(f);
    if (!PcmFormatSupported(pcm.get())) return "unsupported audio format (" + FormatNumbers(pcm.get()) + ")";
    return std::nullopt;
  }
  for (const TMMAudioFileReader& r : AudioFileReaders()) {
    if (r.FileType != ftWave && r.CanOpenFile && r.CanOpenFile(file)) return std::nullopt;
  }
  const std::string ext = FileExtension(file);
  if ((ext == ".mp3" || ext == ".MP3" || ext == ".mp2") && !MpegDecoderAvailable()) {
    return "MP3 files need the decoder library: " + MpegLoadError();
  }
  return "not a wave, MP3, FLAC or Ogg file we can read";
}

std::string PrepareForDecoding(const std::string& source, const std::string& folder,
                               const std::function<void(int)>& progress) {
  if (IsPlainPcmWave(source)) return source;
  const std::string stem = fs::path(source).stem().string() + "_pcm.wav";
  const fs::path dir = folder.empty() ? fs::path(source).parent_path() : fs::path(folder);
  const std::string target = (dir / stem).string();
  PrepareForDecodingAs(source, target, progress);
  return target;
}

void PrepareForDecodingAs(const std::string& source, const std::string& target,
                          const std::function<void(int)>& progress) {
  AudioFileConverter converter;
  if (progress) converter.OnProgress = progress;
  converter.Load(source);
  converter.Convert(target);
}

}  // namespace tv
