// Prepares a wave file for DTMF decoding: converts it to 16-bit stereo PCM at
// 44100 Hz ("_acm") and normalises the result to full scale ("_norm").
#pragma once

#include <functional>
#include <string>

#include "WaveNormalizer.h"

namespace tv {

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

  // Converts a PCM file and answers the converted file's name; answers ""
  // (and writes nothing) for a file that is not PCM. Errors propagate.
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
  WaveNormalizer normalizer_;
  std::string outputFolder_;
  NormalizeOutcome last_;
};

}  // namespace tv
