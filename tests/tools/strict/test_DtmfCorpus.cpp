#include "DtmfCorpus.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

namespace tv {
namespace {

// The recordings that claim 15 dB signal to noise hold it: the noise is
// measured in the silence before the first key, the tones while they sound.
TEST(DtmfCorpus, SignalToNoiseRecordingsHoldWhatTheyClaim) {
  int checked = 0;
  for (const CorpusRecording& r : MakeCorpus()) {
    if (r.category != "SNR 15 dB") continue;
    const std::vector<double> x = SynthesizeDtmf(r.sent, r.options);
    const auto lead = static_cast<size_t>(r.options.leadMs * r.options.rate / 1000);
    const auto tone = static_cast<size_t>(r.options.toneMs * r.options.rate / 1000);
    double noise = 0, sound = 0;
    for (size_t n = 0; n < lead; ++n) noise += x[n] * x[n];
    // The middle of the first tone, clear of its edges.
    for (size_t n = lead + tone / 4; n < lead + 3 * tone / 4; ++n) sound += x[n] * x[n];
    noise /= static_cast<double>(lead);
    sound = sound / static_cast<double>(tone / 2) - noise;
    EXPECT_NEAR(10 * std::log10(sound / noise), 15.0, 1.0) << r.file;
    ++checked;
  }
  EXPECT_GT(checked, 0);
}

TEST(DtmfCorpus, EveryCategoryHasRecordingsAndNamesAreUnique) {
  std::set<std::string> files;
  for (const std::string& category : CorpusCategories()) {
    int count = 0;
    for (const CorpusRecording& r : MakeCorpus()) count += r.category == category;
    EXPECT_GE(count, 4) << category;
  }
  for (const CorpusRecording& r : MakeCorpus()) EXPECT_TRUE(files.insert(r.file).second) << r.file;
}

}  // namespace
}  // namespace tv
