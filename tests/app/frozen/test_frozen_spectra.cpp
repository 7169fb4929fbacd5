#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QElapsedTimer>
#include <QTest>
#include <csignal>
#include <filesystem>

#include "DataFolder.h"
#include "FrozenTestEnv.h"
#include "MMPCMSup.h"
#include "TMMConnector.h"
#include "TFrmSavBin.h"
#include "TFrozenSpectra.h"
#include "TMMLEDLabel.h"
#include "TMMSpectrum.h"

namespace tv {
namespace {

// Levels that differ per slot and per bin, negatives and extremes included.
std::vector<int32_t> Pattern(int slot, int bins) {
  std::vector<int32_t> v(static_cast<size_t>(bins));
  for (int k = 0; k < bins; ++k) v[static_cast<size_t>(k)] = (k * 7919 + slot * 104729) % 300000;
  return v;
}

class FrozenSpectraTest : public test::FrozenTest {
 protected:
  void SetUp() override {
    FrozenTest::SetUp();
    spectrum_ = std::make_unique<TMMSpectrum>(nullptr, TMMSpectrumDesign::Main);
    spectrum_->resize(640, 320);
    slots_.OnCloseInput = [this] { calls_ += "close "; };
    slots_.OnStartInput = [this] { calls_ += "start "; };
    slots_.OnShowEditor = [this] { calls_ += "editor "; };
  }
  void TearDown() override {
    spectrum_.reset();
    FrozenTest::TearDown();
  }
  void SetLevels(const std::vector<int32_t>& v) {
    std::copy(v.begin(), v.end(), spectrum_->Calc().BinLevels().begin());
  }
  std::vector<int32_t> Levels(int bins = 512) const {
    const auto all = spectrum_->Calc().BinLevels();
    return {all.begin(), all.begin() + bins};
  }
  QString PeakData(const char* name) const {
    return PeakDataFolder() + QLatin1Char('/') + QString::fromLatin1(name);
  }

  std::unique_ptr<TMMSpectrum> spectrum_;
  TFrozenSpectra slots_;
  std::string calls_;
};

TEST_F(FrozenSpectraTest, AStoreWritesOneDecimalLinePerBinEndedByCrLf) {
  std::vector<int32_t> levels = Pattern(0, 512);
  levels[0] = 0;
  levels[1] = 17;
  levels[2] = 2310;
  levels[3] = -42;
  levels[4] = 2147483647;
  levels[5] = -2147483647 - 1;
  SetLevels(levels);
  const QString target = File("kitchen.sav");
  answers_.push_back(target);

  ASSERT_TRUE(slots_.StoreSlot(2, spectrum_->Calc(), nullptr));

  const std::string text = ReadText(target);
  EXPECT_EQ(text.substr(0, 15), "0\r\n17\r\n2310\r\n-4");
  EXPECT_EQ(text, SavText(levels));  // 512 lines for a 1024-point spectrum, nothing else
  EXPECT_EQ(slots_.FFrozenFile[2], target);
  EXPECT_TRUE(slots_.FFrozenFile[0].isEmpty());
  // The scratch file was moved, not copied.
  EXPECT_FALSE(QFileInfo::exists(PeakData("default.sav")));
  ASSERT_EQ(requests_.size(), 1u);
  EXPECT_EQ(requests_[0].title, QStringLiteral("Save Tonvista Peak Data"));
  EXPECT_EQ(requests_[0].filter, QStringLiteral("Tonvista Peak Data (*.sav)"));
  EXPECT_EQ(requests_[0].defaultSuffix, QStringLiteral("sav"));
  EXPECT_EQ(requests_[0].folder, PeakDataFolder());
  EXPECT_TRUE(requests_[0].save);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(FrozenSpectraTest, CancellingTheSaveDialogLeavesTheScratchFileAndTheSlot) {
  slots_.FFrozenFile[1] = QStringLiteral("/earlier/choice.sav");
  SetLevels(Pattern(1, 512));
  EXPECT_FALSE(slots_.StoreSlot(1, spectrum_->Calc(), nullptr));
  EXPECT_EQ(ReadText(PeakData("default.sav")), SavText(Pattern(1, 512)));
  EXPECT_EQ(slots_.FFrozenFile[1], QStringLiteral("/earlier/choice.sav"));
  EXPECT_TRUE(messages_.empty());
}

TEST_F(FrozenSpectraTest, EachSlotLoadsWhatItStoredAndShowsTheSamePicture) {
  TMMSpectrumCalc& calc = spectrum_->Calc();
  for (int slot = 0; slot < 4; ++slot) {
    SCOPED_TRACE(slot);
    calc.SetEnabled(false);  // frozen, as a store follows a freeze
    SetLevels(Pattern(slot, 512));
    const QImage before = spectrum_->ComposeFrame().copy();
    answers_.push_back(File(("slot" + std::to_string(slot) + ".sav").c_str()));
    ASSERT_TRUE(slots_.StoreSlot(slot, calc, nullptr));
  }
  for (int slot = 3; slot >= 0; --slot) {
    SCOPED_TRACE(slot);
    calc.SetEnabled(true);
    SetLevels(std::vector<int32_t>(512, 5));  // live data meanwhile
    calls_.clear();
    EXPECT_EQ(slots_.LoadSlot(slot, *spectrum_, nullptr), TFrozenSpectra::TLoadResult::Loaded);
    EXPECT_EQ(Levels(), Pattern(slot, 512));
    EXPECT_FALSE(calc.Enabled());
    EXPECT_EQ(calls_, "close ");
    // The same picture as when it was stored.
    SetLevels(Pattern(slot, 512));
    const QImage expected = spectrum_->ComposeFrame().copy();
    SetLevels(std::vector<int32_t>(512, 5));
    ASSERT_EQ(slots_.LoadSlot(slot, *spectrum_, nullptr), TFrozenSpectra::TLoadResult::Loaded);
    EXPECT_EQ(spectrum_->ComposeFrame(), expected);
  }
  EXPECT_TRUE(messages_.empty());
}

TEST_F(FrozenSpectraTest, LoadingAnUnsetSlotOpensTheEditorAndRestartsCapture) {
  spectrum_->Calc().SetEnabled(false);
  EXPECT_EQ(slots_.LoadSlot(3, *spectrum_, nullptr), TFrozenSpectra::TLoadResult::Unset);
  EXPECT_EQ(calls_, "close editor start ");
  EXPECT_TRUE(spectrum_->Calc().Enabled());
  EXPECT_TRUE(messages_.empty());
}

// Each bad file: a message that names the file and the fault, the live
// display as it was (levels, running, capture not closed).
TEST_F(FrozenSpectraTest, ABadFileIsRefusedWithAMessageAndTheLiveDisplayUntouched) {
  const std::string good = SavText(Pattern(0, 512));
  struct Case {
    const char* name;
    std::string text;
    const char* reason;
  };
  std::string hugeLine(200000, '7');
  const Case cases[] = {
      {"missing.sav", "", "does not exist"},
      {"empty.sav", "", "empty"},
      {"truncated.sav", SavText(Pattern(0, 300)), "holds 300 levels; the display shows 512"},
      {"longer.sav", SavText(Pattern(0, 1024)), "holds 1024 levels; the display shows 512"},
      {"words.sav", "12\r\n13\r\nabc\r\n", "Line 3 is not an integer: \"abc\""},
      {"trailing.sav", good + "\r\n", "Line 513 is empty"},
      {"toolong.sav", SavText(Pattern(0, 2049)), "more than 2048 lines"},
      {"huge.sav", hugeLine, "too long"},
      {"binary.sav", std::string("\x89PNG\r\n\x1a\n\0\0", 10), "Line 1 is not an integer"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const QString path = File(c.name);
    if (std::string(c.name) != "missing.sav") WriteText(path, c.text);
    slots_.FFrozenFile[0] = path;
    SetLevels(Pattern(2, 512));
    spectrum_->Calc().SetEnabled(true);
    calls_.clear();
    messages_.clear();

    EXPECT_EQ(slots_.LoadSlot(0, *spectrum_, nullptr), TFrozenSpectra::TLoadResult::Failed);
    EXPECT_EQ(Levels(), Pattern(2, 512));
    EXPECT_TRUE(spectrum_->Calc().Enabled());
    EXPECT_EQ(calls_, "");
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].second, MessageKind::Error);
    EXPECT_TRUE(messages_[0].first.contains(path)) << messages_[0].first.toStdString();
    EXPECT_TRUE(messages_[0].first.contains(QString::fromLatin1(c.reason)))
        << messages_[0].first.toStdString();
  }
}

TEST_F(FrozenSpectraTest, AStoreThatCannotWriteItsScratchFileSaysSoAndAsksNothing) {
  // A file where the folder should be: nothing can be written below it.
  const QString folder = ProgramDataFolder() + QStringLiteral("/Analyzer Peak Data");
  ASSERT_TRUE(QDir(folder).removeRecursively());
  WriteText(folder, "not a folder");
  slots_.FFrozenFile[2] = QStringLiteral("/earlier.sav");

  EXPECT_FALSE(slots_.StoreSlot(2, spectrum_->Calc(), nullptr));
  EXPECT_TRUE(requests_.empty());
  EXPECT_EQ(slots_.FFrozenFile[2], QStringLiteral("/earlier.sav"));
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_TRUE(messages_[0].first.startsWith(QStringLiteral("The spectrum could not be stored")));
  EXPECT_EQ(ReadText(folder), "not a folder");
}

TEST_F(FrozenSpectraTest, AStoreToAnUnwritablePlaceKeepsTheSpectrumAndTheSlot) {
  SetLevels(Pattern(3, 512));
  slots_.FFrozenFile[0] = QStringLiteral("/earlier.sav");
  const QString target = File("no such folder/a.sav");
  answers_.push_back(target);

  EXPECT_FALSE(slots_.StoreSlot(0, spectrum_->Calc(), nullptr));
  EXPECT_EQ(slots_.FFrozenFile[0], QStringLiteral("/earlier.sav"));
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_TRUE(messages_[0].first.contains(target)) << messages_[0].first.toStdString();
  // The stored levels are not lost: the scratch file still holds them.
  EXPECT_EQ(ReadText(PeakData("default.sav")), SavText(Pattern(3, 512)));
}

TEST_F(FrozenSpectraTest, AFullDiskKeepsEarlierFilesIntact) {
  const QString earlier = File("keep.sav");
  WriteText(earlier, "1\r\n2\r\n");
  WriteText(PeakData("default.sav"), "3\r\n4\r\n");
  slots_.FFrozenFile[1] = earlier;
  SetLevels(Pattern(1, 512));
  answers_.push_back(earlier);

  // Files may grow to 64 bytes only: the disk is full for a 512-line file.
  struct rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 64;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool stored = slots_.StoreSlot(1, spectrum_->Calc(), nullptr);
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);

  EXPECT_FALSE(stored);
  EXPECT_EQ(ReadText(earlier), "1\r\n2\r\n");
  EXPECT_EQ(ReadText(PeakData("default.sav")), "3\r\n4\r\n");
  EXPECT_EQ(slots_.FFrozenFile[1], earlier);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_TRUE(messages_[0].first.startsWith(QStringLiteral("The spectrum could not be stored")));
  // No half-written file is left beside it.
  EXPECT_EQ(QDir(PeakDataFolder()).entryList(QDir::Files), QStringList{"default.sav"});
}

TEST_F(FrozenSpectraTest, AReadOnlyFolderKeepsTheEarlierFileOfThatName) {
  if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
  const QString folder = File("readonly");
  ASSERT_TRUE(QDir().mkpath(folder));
  const QString earlier = folder + QStringLiteral("/bench.sav");
  WriteText(earlier, "9\r\n");
  ASSERT_TRUE(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
  answers_.push_back(earlier);
  const bool stored = slots_.StoreSlot(0, spectrum_->Calc(), nullptr);
  QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  EXPECT_FALSE(stored);
  EXPECT_EQ(ReadText(earlier), "9\r\n");
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_TRUE(messages_[0].first.contains(QStringLiteral("unchanged")));
}

TEST_F(FrozenSpectraTest, SlotNamesLiveInThePreferenceStoreBetweenRuns) {
  slots_.FFrozenFile = {QStringLiteral("/a/one.sav"), QString(), QStringLiteral("/b/three.sav"),
                        QStringLiteral("/c/four.sav")};
  slots_.WriteSlotNames();
  EXPECT_EQ(ReadPreference(PreferenceRoot::CurrentUser, kPreferenceKey, QStringLiteral("bindata2"),
                           QString()),
            QStringLiteral("/b/three.sav"));
  TFrozenSpectra next;
  next.ReadSlotNames();
  EXPECT_EQ(next.FFrozenFile, slots_.FFrozenFile);
}

TEST_F(FrozenSpectraTest, TheEditorAssignsFilesToTheLoadKeys) {
  slots_.FFrozenFile[0] = QStringLiteral("/data/Morning Check.sav");
  TFrmSavBin editor(slots_);
  EXPECT_EQ(editor.windowTitle(), QStringLiteral("Load Keyboard short cut"));
  EXPECT_EQ(editor.toolTip(), QStringLiteral("You can load Short cut for the keyboard here"));
  EXPECT_EQ(editor.Heading->text(), QStringLiteral("Tonvista Data Value"));
  EXPECT_TRUE(editor.windowFlags() & Qt::WindowStaysOnTopHint);
  for (int row = 0; row < 4; ++row) {
    EXPECT_EQ(editor.KeyLabels[static_cast<size_t>(row)]->text(), QStringLiteral("F%1").arg(9 + row));
  }
  EXPECT_EQ(editor.MMLEDLABEL31->Caption(), QStringLiteral("DEFAULT"));

  editor.ShowSlotNames();
  EXPECT_EQ(editor.MMLEDLABEL11->Caption(), QStringLiteral("MORNING CHECK.SAV"));
  EXPECT_EQ(editor.MMLEDLABEL21->Caption(), QString());

  answers_.push_back(File("line 3/pbx.sav"));
  QTest::mouseClick(editor.SpeedButton11, Qt::LeftButton);
  EXPECT_EQ(slots_.FFrozenFile[2], File("line 3/pbx.sav"));
  EXPECT_EQ(editor.MMLEDLABEL31->Caption(), QStringLiteral("PBX.SAV"));
  ASSERT_EQ(requests_.size(), 1u);
  EXPECT_EQ(requests_[0].title, QStringLiteral("Tonvista Data Value"));
  EXPECT_EQ(requests_[0].filter, QStringLiteral("Tonvista Data Value (*.sav)"));
  EXPECT_FALSE(requests_[0].save);
  EXPECT_TRUE(QFileInfo(requests_[0].folder).isDir());

  // Cancelled: row and slot stay.
  QTest::mouseClick(editor.SpeedButton7, Qt::LeftButton);
  EXPECT_EQ(slots_.FFrozenFile[0], QStringLiteral("/data/Morning Check.sav"));
  EXPECT_EQ(editor.MMLEDLABEL11->Caption(), QStringLiteral("MORNING CHECK.SAV"));
}

// Frozen, the connector passes nothing on and a stop leaves the picture;
// restarted, the display follows the input again.
TEST_F(FrozenSpectraTest, FreezeKeepsThePictureAndRestartFollowsTheInputAgain) {
  TMMSpectrumCalc& calc = spectrum_->Calc();
  calc.SetVisible(true);
  TMMConnector connector("MMConnector1");
  connector.SetSpectrum1(&spectrum_->Display());
  const WaveFormatPtr format = MakePcmFormat(16, 2, 44100);
  connector.SetPWaveFormat(format.get());
  connector.SetBufferSize(8192);
  connector.Open();
  // A loud 1 kHz tone, as the input delivers it.
  std::vector<int16_t> tone(2048 * 2);
  for (size_t i = 0; i < tone.size(); ++i) {
    tone[i] = static_cast<int16_t>(12000 * std::sin(2 * M_PI * 1000 * static_cast<double>(i / 2) / 44100));
  }
  const auto feedFor = [&](int ms, const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms && !done()) {
      connector.TapData(tone.data(), static_cast<int32_t>(tone.size() * 2));
      QTest::qWait(5);
    }
  };

  Freeze(connector);
  connector.Start();
  SetLevels(Pattern(1, 512));
  feedFor(300, [] { return false; });
  EXPECT_EQ(Levels(), Pattern(1, 512));
  connector.Stop();
  EXPECT_EQ(Levels(), Pattern(1, 512));

  Restart(connector);
  connector.Start();
  feedFor(3000, [&] { return Levels() != Pattern(1, 512); });
  EXPECT_NE(Levels(), Pattern(1, 512));
  connector.Stop();
  EXPECT_EQ(Levels(), std::vector<int32_t>(512, 0));  // a live stop clears
  connector.Close();
  connector.SetSpectrum1(nullptr);
}

}  // namespace
}  // namespace tv
