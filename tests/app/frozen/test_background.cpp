#include <gtest/gtest.h>

#include <QImage>

#include "FrozenTestEnv.h"
#include "TMMSpectrum.h"
#include "TfSpecBack.h"

namespace tv {
namespace {

const QRgb kTeal = qRgb(0, 128, 128);  // a frozen trace
const QRgb kAqua = qRgb(0, 255, 255);  // the live trace

// Linear levels (the main display decays step by step): a tall peak over
// bins first .. last, the floor elsewhere.
std::vector<int32_t> Peak(int bins, int first, int last) {
  std::vector<int32_t> v(static_cast<size_t>(bins), 16);
  for (int k = first; k <= last; ++k) v[static_cast<size_t>(k)] = 320000;
  return v;
}

int Count(const QImage& image, QRgb colour, int maxRow = -1) {
  int n = 0;
  const int rows = maxRow < 0 ? image.height() : maxRow;
  for (int y = 0; y < rows; ++y) {
    for (int x = 0; x < image.width(); ++x) n += (image.pixel(x, y) & 0xffffff) == (colour & 0xffffff);
  }
  return n;
}

class BackgroundTest : public test::FrozenTest {
 protected:
  void SetUp() override {
    FrozenTest::SetUp();
    main_ = std::make_unique<TMMSpectrum>(nullptr, TMMSpectrumDesign::Main);
    main_->resize(700, 400);
    back_ = std::make_unique<TfSpecBack>(*main_);
  }
  void TearDown() override {
    back_.reset();
    main_.reset();
    FrozenTest::TearDown();
  }
  void Live(const std::vector<int32_t>& v) {
    std::fill(main_->Calc().BinLevels().begin(), main_->Calc().BinLevels().end(), 0);
    std::copy(v.begin(), v.end(), main_->Calc().BinLevels().begin());
  }
  QString Sav(const char* name, const std::vector<int32_t>& levels) {
    const QString path = File(name);
    WriteText(path, SavText(levels));
    return path;
  }
  bool Load(const QString& file) {
    answers_.push_back(file);
    return back_->LoadBackground();
  }

  std::unique_ptr<TMMSpectrum> main_;
  std::unique_ptr<TfSpecBack> back_;
};

TEST_F(BackgroundTest, TheStoredSpectrumLiesBehindTheLiveTrace) {
  Live(std::vector<int32_t>(512, 0));
  EXPECT_EQ(Count(main_->ComposeFrame(), kTeal), 0);

  const QString file = Sav("peak.sav", Peak(512, 100, 104));
  ASSERT_TRUE(Load(file));
  ASSERT_EQ(requests_.size(), 1u);
  EXPECT_EQ(requests_[0].title, QStringLiteral("Load Tonvista Peak Data"));
  EXPECT_EQ(requests_[0].filter, QStringLiteral("Tonvista Peak Data (*.sav)"));
  EXPECT_TRUE(main_->UseBackGroundDIB());
  EXPECT_EQ(main_->BackGroundDIB().size(), main_->PlotRect().size());
  EXPECT_EQ(back_->BackgroundFile(), file);

  // A silent live input: its trace runs along the bottom, the stored peak
  // stands in the upper half behind it.
  const QImage quiet = main_->ComposeFrame().copy();
  const int half = quiet.height() / 2;
  EXPECT_GT(Count(quiet, kTeal, half), 20);
  EXPECT_EQ(Count(quiet, kAqua, half), 0);
  EXPECT_GT(Count(quiet, kAqua), quiet.width() / 2);

  // The same spectrum live: its trace covers the stored one completely.
  Live(Peak(512, 100, 104));
  const QImage same = main_->ComposeFrame().copy();
  EXPECT_GT(Count(same, kAqua, half), 20);
  EXPECT_EQ(Count(same, kTeal), 0);
  EXPECT_TRUE(messages_.empty());
}

// Its log axis starts at the first bin's frequency: a spectrum of another
// length would lie on other frequencies.
TEST_F(BackgroundTest, OnlyASpectrumOfTheDisplaysLengthIsLaidBehindIt) {
  const QString longer = Sav("long.sav", Peak(1024, 200, 201));
  EXPECT_FALSE(Load(longer));
  EXPECT_FALSE(main_->UseBackGroundDIB());
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_TRUE(messages_[0].first.contains(
      QStringLiteral("It holds 1024 levels; the display shows 512 (a 1024-point spectrum).")))
      << messages_[0].first.toStdString();

  // The generator's 2048-point display takes it, at that length.
  main_->Calc().SetFFTLength(2048);
  Live(std::vector<int32_t>(1024, 0));
  ASSERT_TRUE(Load(longer));
  EXPECT_EQ(back_->SpeckBack->Calc().FFTLength(), 2048);
  Live(Peak(1024, 200, 201));
  EXPECT_GT(Count(main_->ComposeFrame(), kAqua, 100), 0);
  EXPECT_EQ(Count(main_->ComposeFrame(), kTeal), 0);
}

TEST_F(BackgroundTest, ABadFileKeepsThePreviousBackgroundAndSaysWhy) {
  ASSERT_TRUE(Load(Sav("good.sav", Peak(512, 40, 50))));
  const QImage before = main_->BackGroundDIB();
  const QString bad = File("bad.sav");
  WriteText(bad, "12\r\nnot a level\r\n");
  EXPECT_FALSE(Load(bad));
  ASSERT_EQ(messages_.size(), 1u);
  const QString text = messages_[0].first;
  EXPECT_TRUE(text.startsWith(
      QStringLiteral("Quellfon change the code of this files to make it 400 % faster.\n"
                     "Unfortunately the old files are not anymore compatible with the new files.\n"
                     "\nIf you have important files from your projects, ask us for a converter tool.")))
      << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("Line 2 is not an integer"))) << text.toStdString();
  EXPECT_EQ(main_->BackGroundDIB(), before);
  EXPECT_TRUE(main_->UseBackGroundDIB());
  EXPECT_EQ(back_->BackgroundFile(), File("good.sav"));

  // 300 levels: no spectrum has that many.
  messages_.clear();
  EXPECT_FALSE(Load(Sav("odd.sav", Peak(300, 10, 20))));
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_TRUE(messages_[0].first.contains(QStringLiteral("300 levels")));
  EXPECT_EQ(main_->BackGroundDIB(), before);

  // Cancelled: nothing changes, nothing is said.
  messages_.clear();
  EXPECT_FALSE(back_->LoadBackground());
  EXPECT_TRUE(messages_.empty());
  EXPECT_EQ(main_->BackGroundDIB(), before);
}

TEST_F(BackgroundTest, AGainChangeRedrawsAShownBackgroundAndClearingTurnsItOff) {
  // Nothing loaded yet: a gain change shows no background.
  main_->Calc().SetGain(sg6db);
  back_->ReapplyBackground();
  EXPECT_FALSE(main_->UseBackGroundDIB());

  main_->Calc().SetGain(sgNone);
  ASSERT_TRUE(Load(Sav("peak.sav", Peak(512, 60, 70))));
  const QImage flat = main_->BackGroundDIB();
  main_->Calc().SetGain(sg12db);
  back_->ReapplyBackground();
  EXPECT_TRUE(main_->UseBackGroundDIB());
  EXPECT_NE(main_->BackGroundDIB(), flat);

  back_->ClearBackground();
  EXPECT_FALSE(main_->UseBackGroundDIB());
  EXPECT_EQ(Count(main_->ComposeFrame(), kTeal), 0);
  // A cleared background stays off when the gain changes again.
  main_->Calc().SetGain(sg3db);
  back_->ReapplyBackground();
  EXPECT_FALSE(main_->UseBackGroundDIB());
}

}  // namespace
}  // namespace tv
