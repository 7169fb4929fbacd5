#include "DtmfConverter.h"

#include <sys/statvfs.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "DecodeInput.h"
#include "MMWaveRead.h"
#include "MMErrors.h"
#include "MMPCMSup.h"
#include "TMMWave.h"
#include "TempFile.h"
#include "WaveNames.h"

namespace tv {

namespace fs = std::filesystem;

namespace {

constexpr int kRate = 44100;
constexpr int kAlign = 4;  // 16-bit stereo
// A RIFF size field holds 32 bits; our header takes this much of it.
constexpr int64_t kWaveLimit = 0xFFFFFFFFLL;
constexpr int64_t kHeaderReserve = 4096;

std::string Megabytes(int64_t bytes) { return std::to_string((bytes + (1 << 20) - 1) >> 20) + " MB"; }

std::string FolderOf(const std::string& file) {
  const fs::path dir = fs::path(file).parent_path();
  return dir.empty() ? std::string(".") : dir.string();
}

int64_t FreeBytes(const std::string& folder) {
  struct statvfs st {};
  if (statvfs(folder.c_str(), &st) != 0) return -1;
  return static_cast<int64_t>(st.f_bavail) * static_cast<int64_t>(st.f_frsize);
}

}  // namespace

int64_t ConvertedSize(int64_t sourceBytes, const WAVEFORMATEX* source) {
  if (source == nullptr || source->nBlockAlign == 0 || source->nSamplesPerSec == 0) return 0;
  const long double frames = static_cast<long double>(sourceBytes / source->nBlockAlign);
  return static_cast<int64_t>(std::ceil(frames * kRate / source->nSamplesPerSec)) * kAlign;
}

std::string WriteProblem(const std::string& target, int64_t needed) {
  const std::string folder = FolderOf(target);
  if (access(folder.c_str(), W_OK) != 0) {
    return "the folder " + folder + " cannot be written (" + std::strerror(errno) + ")";
  }
  const int64_t free = FreeBytes(folder);
  if (free >= 0 && free < needed + kHeaderReserve) {
    return "the disk holding " + folder + " is full (" + Megabytes(needed) + " needed, " +
           Megabytes(free) + " free)";
  }
  return {};
}

std::string DtmfConverter::Target(const std::string& name, const std::string& suffix) const {
  const std::string derived = DerivedFileName(name, suffix);
  if (outputFolder_.empty()) return derived;
  return (fs::path(outputFolder_) / fs::path(derived).filename()).string();
}

std::string DtmfConverter::ConvertForDtmf(const std::string& source) {
  if (IsPlainPcmWave(source)) return ConvertPcm(source, {}, 0, 100);
  // Recordings in other formats (mu-law, A-law, ADPCM, 24-bit, float, MP3,
  // ...) are decoded to PCM first. A PCM wave we cannot take goes to the
  // conversion, which names its problem; anything else we cannot decode is
  // passed over, and the caller names it with DecodableAudioProblem.
  if (DecodableAudioProblem(source)) {
    WaveFileInfo info;
    if (ScanWaveFile(source, info) == wrOk && info.Format && info.Format->wFormatTag == WAVE_FORMAT_PCM) {
      return ConvertPcm(source, {}, 0, 100);
    }
    return {};
  }
  // An MP3, FLAC or Ogg source still gives a wave file, named so that it
  // cannot meet the converted file of a wave source of the same base name.
  const std::string ext = FileExtension(source);
  std::string lower = ext;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const bool waveName = lower == ".wav";
  const std::string converted = Target(waveName ? source : source + ".wav", "_acm");
  // The decoded copy is only a step: a hidden work name beside the result,
  // removed when done, so that it can never replace a file of the user's.
  TempFile decoded(fs::absolute(DerivedFileName(converted, "_pcm")).string());
  try {
    PrepareForDecodingAs(source, decoded.Name(), [this](int percent) { Report(percent / 2); });
  } catch (const EMMError&) {
    const std::string why = WriteProblem(decoded.Name(), 0);
    if (why.empty()) throw;
    throw EMMWaveError(LoadResString(SUnableToConvert) + kLFCR + why);
  }
  return ConvertPcm(decoded.Name(), converted, 50, 100);
}

void DtmfConverter::Report(int percent) {
  if (OnConvertProgress) OnConvertProgress(percent);
}

std::string DtmfConverter::ConvertPcm(const std::string& file, std::string converted, int from,
                                      int to) {
  TMMWave wave;
  wave.SetFileName(file);
  if (wave.FormatTag() != WAVE_FORMAT_PCM) return {};
  WaveFormatPtr target = MakePcmFormat(16, 2, kRate);
  wave.OnProgress = [this, from, to](TMMWave*, int64_t current, int64_t total, bool&) {
    if (!OnConvertProgress || total <= 0) return;
    const double part = static_cast<double>(current) * (to - from) / static_cast<double>(total);
    OnConvertProgress(from + static_cast<int>(std::lrint(part + 0.5)));
  };
  if (converted.empty()) converted = Target(wave.FileName(), "_acm");
  const int64_t needed = ConvertedSize(wave.TotalSamples() * wave.PWaveFormat()->nBlockAlign, wave.PWaveFormat());
  if (needed + kHeaderReserve > kWaveLimit) {
    throw EMMWaveError(LoadResString(SUnableToConvert) + kLFCR + "converted to 16-bit stereo 44100 Hz, " +
                       converted + " would need " + Megabytes(needed) +
                       ", more than the 4 GB a wave file can hold");
  }
  try {
    wave.ConvertFile(converted, target.get());
  } catch (const EMMWaveError& e) {
    if (std::string(e.what()) != LoadResString(SUnableToConvert)) throw;
    const std::string why = WriteProblem(converted, needed);
    if (why.empty()) throw EMMWaveError(LoadResString(SUnableToConvert) + kLFCR + converted);
    throw EMMWaveError(LoadResString(SUnableToConvert) + kLFCR + why);
  }
  return converted;
}

std::string DtmfConverter::NormalizeFile(const std::string& name) {
  last_ = NormalizeOutcome{};
  if (name.empty()) return {};
  const std::string target = Target(name, "_norm");
  last_ = normalizer_.Normalize(name, [&target] { return target; });
  if (!last_.pcm) return {};
  return last_.destination.empty() ? name : last_.destination;
}

}  // namespace tv
