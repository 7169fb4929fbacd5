#include "DtmfConverter.h"

#include <cmath>
#include <filesystem>

#include "MMPCMSup.h"
#include "TMMWave.h"
#include "WaveNames.h"

namespace tv {

std::string DtmfConverter::Target(const std::string& name, const std::string& suffix) const {
  const std::string derived = DerivedFileName(name, suffix);
  if (outputFolder_.empty()) return derived;
  return (std::filesystem::path(outputFolder_) / std::filesystem::path(derived).filename()).string();
}

std::string DtmfConverter::ConvertForDtmf(const std::string& source) {
  TMMWave wave;
  wave.SetFileName(source);
  if (wave.FormatTag() != WAVE_FORMAT_PCM) return {};
  WaveFormatPtr target = MakePcmFormat(16, 2, 44100);
  wave.OnProgress = [this](TMMWave*, int64_t current, int64_t total, bool&) {
    if (!OnConvertProgress || total <= 0) return;
    OnConvertProgress(static_cast<int>(
        std::lrint(static_cast<double>(current) * 100.0 / static_cast<double>(total) + 0.5)));
  };
  const std::string converted = Target(wave.FileName(), "_acm");
  wave.ConvertFile(converted, target.get());
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
