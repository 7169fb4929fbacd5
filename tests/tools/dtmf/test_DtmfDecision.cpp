#include "DtmfDecision.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <vector>

namespace tv {
namespace {

// Bin values by frequency; anything not listed reads 0.
struct Bins {
  std::map<int, int32_t> values;
  int32_t operator()(float hz) const {
    auto it = values.find(static_cast<int>(std::lround(hz)));
    return it == values.end() ? 0 : it->second;
  }
};

Bins Tone(char key, int32_t level) {
  const DtmfKey& k = kDtmfKeys[static_cast<size_t>(DtmfKeyIndex(key))];
  return Bins{{{kStandardColumnFreq[static_cast<size_t>(k.column)], level},
               {kStandardRowFreq[static_cast<size_t>(k.row)], level}}};
}

// Feeds one buffer per entry and collects what would be appended.
std::string Feed(DtmfDecision& d, const std::vector<Bins>& buffers, int32_t threshold) {
  std::string out;
  for (const Bins& b : buffers) {
    const int index = d.DecideWith(b, threshold);
    if (index >= 0) out += d.KeyChar(index);
  }
  return out;
}

TEST(DtmfDecision, SilenceOnlyReleases) {
  DtmfDecision d;
  EXPECT_FALSE(d.KeyReleased());
  EXPECT_EQ(d.DecideWith(Bins{}, 50), -1);
  EXPECT_TRUE(d.KeyReleased());
  for (int k = 0; k < 16; ++k) EXPECT_EQ(d.KeySum(k), 0);
}

TEST(DtmfDecision, KeyTableAndCharacters) {
  DtmfDecision d;
  const std::string expected = "0123456789*#ABCD";
  for (int k = 0; k < 16; ++k) EXPECT_EQ(d.KeyChar(k), std::string(1, expected[static_cast<size_t>(k)]));
  // Every key scores the sum of its own two bins.
  for (int k = 0; k < 16; ++k) {
    d.DecideWith(Tone(expected[static_cast<size_t>(k)], 100), 50);
    EXPECT_EQ(d.KeySum(k), 200) << k;
  }
}

TEST(DtmfDecision, TiesGoToTheLowerIndex) {
  // "0" (1336+941) and "1" (1209+697) score the same: "0" wins.
  Bins both{{{1336, 100}, {941, 100}, {1209, 100}, {697, 100}}};
  DtmfDecision d;
  d.DecideWith(Bins{}, 50);
  const int index = d.DecideWith(both, 50);
  EXPECT_EQ(index, 0);
  // "1" and "A" (1633+697) tie: "1" wins.
  Bins oneA{{{1209, 100}, {697, 100}, {1633, 100}}};
  d.DecideWith(Bins{}, 50);
  EXPECT_EQ(d.KeyChar(d.DecideWith(oneA, 50)), "1");
}

TEST(DtmfDecision, ScoreEqualToThresholdChangesNothing) {
  DtmfDecision d;
  EXPECT_EQ(d.DecideWith(Tone('5', 30), 60), -1);  // 60 == threshold: not released
  EXPECT_FALSE(d.KeyReleased());
  d.DecideWith(Bins{}, 60);
  EXPECT_TRUE(d.KeyReleased());
  EXPECT_EQ(d.DecideWith(Tone('5', 30), 60), -1);  // still equal: stays released
  EXPECT_TRUE(d.KeyReleased());
  EXPECT_EQ(d.KeyChar(d.DecideWith(Tone('5', 31), 60)), "5");
}

TEST(DtmfDecision, HeldToneGivesOneKeyAndRepeatsNeedAQuietBuffer) {
  DtmfDecision d;
  const Bins five = Tone('5', 200), quiet{};
  EXPECT_EQ(Feed(d, {quiet, five, five, five, five}, 50), "5");
  EXPECT_EQ(Feed(d, {quiet, five, quiet, five}, 50), "55");
  // Changing from one key to another without a quiet buffer reports the first only.
  EXPECT_EQ(Feed(d, {quiet, five, Tone('9', 200), Tone('9', 200)}, 50), "5");
  // A quiet buffer below the threshold, though not silent, releases too.
  EXPECT_EQ(Feed(d, {quiet, five, Tone('5', 20), five}, 50), "55");
}

TEST(DtmfDecision, NotReleasedAtStartSoTheFirstQuietBufferCounts) {
  // A fresh decision has not been released: a tone in the very first buffer
  // is not reported until a quiet buffer came.
  DtmfDecision d;
  EXPECT_EQ(Feed(d, {Tone('7', 200), Tone('7', 200)}, 50), "");
  EXPECT_EQ(Feed(d, {Bins{}, Tone('7', 200)}, 50), "7");
}

TEST(DtmfDecision, CustomFrequenciesAreWhatIsMeasured) {
  DtmfDecision d;
  d.SetFrequencies({1219, 1346, 1487, 1643}, {707, 780, 862, 951});
  EXPECT_EQ(d.ColumnFreq(0), 1219);
  EXPECT_EQ(d.RowFreq(3), 951);
  d.DecideWith(Bins{}, 50);
  // The standard pair of "5" no longer counts; the shifted pair does.
  EXPECT_EQ(d.DecideWith(Tone('5', 200), 50), -1);
  Bins shifted{{{1346, 200}, {780, 200}}};
  EXPECT_EQ(d.KeyChar(d.DecideWith(shifted, 50)), "5");
  d.SetStandard();
  EXPECT_EQ(d.ColumnFreq(0), 1209);
}

TEST(DtmfDecision, KeyCharactersCanBeReplaced) {
  DtmfDecision d;
  d.SetKeyChar(10, "x");
  d.DecideWith(Bins{}, 50);
  EXPECT_EQ(d.KeyChar(d.DecideWith(Tone('*', 100), 50)), "x");
}

}  // namespace
}  // namespace tv
