#include "DecodeInput.h"

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

}  // namespace

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
    if (!problem.empty()) return "not a format we can decode (" + problem + ")";
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
  AudioFileConverter converter;
  if (progress) converter.OnProgress = progress;
  converter.Load(source);
  converter.Convert(target);
  return target;
}

}  // namespace tv
