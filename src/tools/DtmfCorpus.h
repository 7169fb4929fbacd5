// The generated recordings that hold DTMF decoders to the telephone receiver
// limits: each limit from both sides (frequency error, tone and pause
// length, twist, level), noise at 15 dB below the signal, and everyday
// recordings at the common rates and widths. Each recording knows the keys
// a receiver must report: none for tones that break a limit, and one key
// for a tone whose break is too short to be a pause.
#pragma once

#include <string>
#include <vector>

#include "DtmfSynth.h"

namespace tv {

struct CorpusRecording {
  std::string category;  // the table row it counts in
  std::string file;      // file name, unique in the corpus
  std::string sent;      // the keys the recording sounds
  std::string expected;  // the keys a receiver must report
  DtmfSignalOptions options;
};

// The categories in table order, then the recordings.
std::vector<std::string> CorpusCategories();
std::vector<CorpusRecording> MakeCorpus();

// Noise level (RMS, dB below full scale) that puts white noise `snrDb`
// below the power of the tone pair the options describe.
double NoiseForSnr(const DtmfSignalOptions& options, double snrDb);

}  // namespace tv
