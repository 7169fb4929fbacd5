// Settings files: the classic initialization-file rules, the analyzer's
// keys, and files that are damaged, hostile or cannot be written.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "TAnalyzerSettings.h"
#include "TIniFile.h"
#include "TestFiles.h"

namespace tv {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void Put(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

int FilesIn(const fs::path& dir) {
  int n = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir)) ++n;
  return n;
}

TEST(IniText, ReadsSectionsAndKeysWithoutRegardToCase) {
  const TIniText t = TIniText::Parse(
      "orphan=1\n"
      "; a comment=2\n"
      "[ Colors ]\n"
      "  Base Color  =  aqua  \n"
      "Quoted=\"  two  \"\n"
      "base color=second\n"
      "[colors]\n"
      "Late=3\n"
      "[Open\r\n"
      "K=v\r\n");
  EXPECT_EQ(t.Find("COLORS", "BASE COLOR"), "aqua");
  EXPECT_EQ(t.Find("colors", "quoted"), "  two  ");
  // The first section and the first key of a name count.
  EXPECT_FALSE(t.Find("Colors", "Late"));
  // Text before any section and comments are no keys.
  EXPECT_FALSE(t.Find("", "orphan"));
  EXPECT_FALSE(t.Find("Colors", "; a comment"));
  // An unclosed section name runs to the line's end; CR LF lines read alike.
  EXPECT_EQ(t.Find("open", "k"), "v");
  EXPECT_FALSE(t.Find("Missing", "K"));
}

TEST(IniText, IntegersInDecimalOrHexadecimal) {
  EXPECT_EQ(ParseIniInteger("42"), 42);
  EXPECT_EQ(ParseIniInteger("  -7 "), -7);
  EXPECT_EQ(ParseIniInteger("0x1F"), 31);
  EXPECT_EQ(ParseIniInteger("$ff"), 255);
  EXPECT_EQ(ParseIniInteger("$FFFFFFFF"), -1);
  EXPECT_EQ(ParseIniInteger("2147483647"), 2147483647);
  EXPECT_EQ(ParseIniInteger("-2147483648"), INT32_MIN);
  for (const char* bad : {"", "  ", "2147483648", "12abc", "0x", "$", "1.5", "1 2", "0x1G",
                          "99999999999999999999999"}) {
    EXPECT_FALSE(ParseIniInteger(bad)) << bad;
  }
}

TEST(IniText, WritingChangesOnlyTheNamedKey) {
  const std::string original =
      "; kept\n"
      "[A]\n"
      "x = 1\n"
      "weird line\n"
      "\n"
      "[B]\n"
      "y=2\n";
  TIniText t = TIniText::Parse(original);
  EXPECT_EQ(t.Text(), original);
  ASSERT_TRUE(t.Set("a", "X", "10"));  // replaced where it stands
  ASSERT_TRUE(t.Set("A", "z", "3"));   // added after the section's last line
  ASSERT_TRUE(t.Set("C", "w", "4"));   // a new section at the end
  EXPECT_EQ(t.Text(),
            "; kept\n"
            "[A]\n"
            "X=10\n"
            "weird line\n"
            "z=3\n"
            "\n"
            "[B]\n"
            "y=2\n"
            "[C]\n"
            "w=4\n");
}

TEST(IniText, WritingFollowsTheFilesLineEnds) {
  TIniText t = TIniText::Parse("[A]\r\nx=1");
  ASSERT_TRUE(t.Set("A", "y", "2"));
  ASSERT_TRUE(t.Set("B", "z", "3"));
  EXPECT_EQ(t.Text(), "[A]\r\nx=1\r\ny=2\r\n[B]\r\nz=3\r\n");
}

TEST(IniText, ValuesReadBackAsWrittenAndUnsafeOnesAreRefused) {
  TIniText t;
  for (const std::string v : {"  padded  ", "\"quoted\"", "\"", "", "a=b;c", "[x]"}) {
    ASSERT_TRUE(t.Set("S", "k", v)) << v;
    EXPECT_EQ(TIniText::Parse(t.Text()).Find("S", "k"), v) << v;
  }
  const std::string before = t.Text();
  EXPECT_FALSE(t.Set("S", "k", "line\nbreak"));
  EXPECT_FALSE(t.Set("S", "k", "cr\rhere"));
  EXPECT_FALSE(t.Set("S", "k", std::string("nul\0x", 5)));
  EXPECT_FALSE(t.Set("S", "a=b", "1"));
  EXPECT_FALSE(t.Set("S", "[k", "1"));
  EXPECT_FALSE(t.Set("S", " k", "1"));
  EXPECT_FALSE(t.Set("S", "", "1"));
  EXPECT_FALSE(t.Set("S]", "k", "1"));
  EXPECT_FALSE(t.Set("", "k", "1"));
  EXPECT_EQ(t.Text(), before);
}

TEST(IniFile, EveryWriteReachesTheFileAndKeepsTheRest) {
  TempDir dir;
  const std::string path = dir.File("a.prj");
  TIniFile ini(path);
  EXPECT_EQ(ini.ReadInteger("S", "k", -1), -1);  // no file yet
  ASSERT_TRUE(ini.WriteInteger("S", "k", 5));
  EXPECT_EQ(TIniFile(path).ReadInteger("s", "K", -1), 5);
  Put(path, Slurp(path) + "[Other]\nName=kept\n");
  ASSERT_TRUE(ini.WriteBool("S", "b", false));
  ASSERT_TRUE(ini.WriteString("S", "t", "text"));
  EXPECT_EQ(Slurp(path), "[S]\nk=5\nb=0\nt=text\n[Other]\nName=kept\n");
  EXPECT_FALSE(ini.ReadBool("S", "b", true));
  EXPECT_EQ(ini.ReadString("Other", "name", ""), "kept");
  EXPECT_EQ(ini.ReadInteger("S", "t", 77), 77);  // unparsable: the default
  EXPECT_EQ(FilesIn(dir.Path()), 1);             // no work files left behind
}

TEST(IniFile, ReplacingKeepsTheFilesModeAndLinks) {
  TempDir dir;
  const std::string real = dir.File("real.prj");
  Put(real, "[S]\nk=1\n");
  ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
  const std::string link = dir.File("link.prj");
  fs::create_symlink(real, link);
  TIniFile ini(link);
  ASSERT_TRUE(ini.WriteInteger("S", "k", 2));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(TIniFile(real).ReadInteger("S", "k", 0), 2);
  struct stat st {};
  ASSERT_EQ(::stat(real.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(IniFile, AFileThatCannotBeWrittenStaysAsItWas) {
  TempDir dir;
  // A folder that is a file: the work file cannot be made.
  Put(dir.File("notafolder"), "x");
  TIniFile nowhere(dir.File("notafolder") + "/a.prj");
  EXPECT_FALSE(nowhere.WriteInteger("S", "k", 1));
  EXPECT_FALSE(nowhere.Error().empty());

  // A target that is a folder: the rename fails, the folder survives, the
  // work file is removed.
  fs::create_directory(dir.File("folder.prj"));
  Put(dir.File("folder.prj") + "/inside", "data");
  TIniFile folder(dir.File("folder.prj"));
  EXPECT_EQ(folder.ReadInteger("S", "k", -1), -1);
  EXPECT_FALSE(folder.WriteInteger("S", "k", 1));
  EXPECT_EQ(Slurp(dir.File("folder.prj") + "/inside"), "data");
  EXPECT_EQ(FilesIn(dir.Path()), 2);
}

TEST(IniFile, DamagedAndHostileFilesReadAsDefaultsAndAreNotOverwritten) {
  TempDir dir;
  // Binary garbage with NULs and invalid UTF-8 around one good key.
  std::string garbage;
  for (int i = 0; i < 5000; ++i) garbage += static_cast<char>((i * 131 + 7) % 256);
  Put(dir.File("garbage.prj"), garbage + "\n[S]\nk=9\n" + garbage);
  EXPECT_EQ(TIniFile(dir.File("garbage.prj")).ReadInteger("S", "k", -1), 9);

  // A line of a megabyte.
  Put(dir.File("long.prj"), "[S]\nk=" + std::string(1 << 20, '7') + "\nj=3\n");
  TIniFile longLine(dir.File("long.prj"));
  EXPECT_EQ(longLine.ReadInteger("S", "k", -1), -1);
  EXPECT_EQ(longLine.ReadInteger("S", "j", -1), 3);

  // Too large to be a settings file: defaults, and a write leaves it alone.
  const std::string huge = "[S]\nk=1\n" + std::string(kMaxIniFileSize, ';');
  Put(dir.File("huge.prj"), huge);
  TIniFile big(dir.File("huge.prj"));
  EXPECT_EQ(big.ReadInteger("S", "k", -1), -1);
  EXPECT_FALSE(big.WriteInteger("S", "k", 2));
  EXPECT_EQ(fs::file_size(dir.File("huge.prj")), huge.size());

  // A named pipe neither hangs the reader nor is replaced.
  ASSERT_EQ(::mkfifo(dir.File("pipe.prj").c_str(), 0600), 0);
  TIniFile pipe(dir.File("pipe.prj"));
  EXPECT_EQ(pipe.ReadInteger("S", "k", -1), -1);
  EXPECT_FALSE(pipe.WriteInteger("S", "k", 2));
  EXPECT_TRUE(fs::is_fifo(dir.File("pipe.prj")));
}

TEST(AnalyzerSettings, WithoutAFileEveryIntegerIsMinusOneAndEveryCheckBoxChecked) {
  TempDir dir;
  const TAnalyzerSettings s = ReadAnalyzerSettings(dir.File("none.prj"));
  EXPECT_EQ(s.LEDSpinYScale, -1);
  EXPECT_EQ(s.MMLEDSpin55, -1);
  EXPECT_EQ(s.SpinFreq1, -1);
  EXPECT_EQ(s.MMSpinButton5, -1);
  EXPECT_EQ(s.MMLEDSpin18, -1);
  EXPECT_EQ(s.RadioGroup2, -1);
  EXPECT_EQ(s.rgUS, -1);
  EXPECT_EQ(s.rgSample, -1);
  EXPECT_EQ(s.rgGain, -1);
  EXPECT_TRUE(s.cb_result && s.CheckBox5 && s.CheckBox6 && s.CheckBox7);
  for (int32_t c : s.Color) EXPECT_EQ(c, -1);
  EXPECT_EQ(s.Bar1, -1);
  EXPECT_EQ(s.Bar5, -1);
  EXPECT_EQ(s.Bar6, -1);
  EXPECT_EQ(s.Bar7, -1);
  EXPECT_FALSE(IsStoredColor(s.Color[0]));
}

TEST(AnalyzerSettings, SavedFileHasTheKeysOfTheFormatAndKeepsForeignOnes) {
  TempDir dir;
  const std::string path = dir.File("p.prj");
  Put(path, "[User]\nNote=mine\n[TCheckBox]\nChecked7=0\nchecked93=1\n");
  TAnalyzerSettings s;
  s.LEDSpinYScale = 4;
  s.MMLEDSpin55 = 6;
  s.SpinFreq1 = 697;
  s.MMSpinButton5 = 3;
  s.MMLEDSpin18 = 100;
  s.RadioGroup2 = 1;
  s.rgUS = 2;
  s.rgSample = 5;
  s.rgGain = 4;
  s.cb_result = false;
  s.CheckBox7 = true;
  s.Color[3] = 0x123456;
  s.Bar1 = 90;
  s.Bar7 = 11;
  std::string error;
  ASSERT_TRUE(WriteAnalyzerSettings(path, s, error)) << error;

  TIniFile ini(path);
  EXPECT_EQ(ini.ReadString("User", "Note", ""), "mine");
  EXPECT_EQ(ini.ReadString("TCheckBox", "Checked7", ""), "0");
  EXPECT_EQ(ini.ReadString("TmmLedSpin", "LedSpin29", ""), "4");
  EXPECT_EQ(ini.ReadString("TmmLedSpin", "LedSpin30", ""), "6");
  EXPECT_EQ(ini.ReadString("TmmLedSpin", "LedSpin43", ""), "697");
  EXPECT_EQ(ini.ReadString("TMMSpinButton", "SpinBnt42", ""), "3");
  EXPECT_EQ(ini.ReadString("TMMSpinButton", "SpinBnt44", ""), "100");
  EXPECT_EQ(ini.ReadString("TRadioGroup", "Index41", ""), "1");
  EXPECT_EQ(ini.ReadString("TRadioGroup", "Index45", ""), "2");
  EXPECT_EQ(ini.ReadString("TRadioGroup", "Index49", ""), "5");
  EXPECT_EQ(ini.ReadString("TRadioGroup", "Index50", ""), "4");
  EXPECT_EQ(ini.ReadString("TCheckBox", "Checked93", ""), "0");
  EXPECT_EQ(ini.ReadString("TCheckBox", "Checked99", ""), "1");
  EXPECT_EQ(ini.ReadString("TCheckBox", "Checked100", ""), "1");
  EXPECT_EQ(ini.ReadString("TCheckBox", "Checked101", ""), "1");
  // Colours 0x00BBGGRR in decimal: aqua, red, and the one chosen.
  EXPECT_EQ(ini.ReadString("Color", "Color1", ""), "16776960");
  EXPECT_EQ(ini.ReadString("Color", "Color3", ""), "255");
  EXPECT_EQ(ini.ReadString("Color", "Color4", ""), std::to_string(0x123456));
  EXPECT_EQ(ini.ReadString("Color", "Color9", ""), "8421504");
  EXPECT_EQ(ini.ReadString("Bars", "Bar1", ""), "90");
  EXPECT_EQ(ini.ReadString("Bars", "Bar5", ""), "50");
  EXPECT_EQ(ini.ReadString("Bars", "Bar6", ""), "50");
  EXPECT_EQ(ini.ReadString("Bars", "Bar7", ""), "11");
  // The existing key was updated in place, not added again.
  EXPECT_EQ(TIniText::Parse(Slurp(path)).Keys("TCheckBox").size(), 5u);
  EXPECT_EQ(ReadAnalyzerSettings(path), s);
}

TEST(AnalyzerSettings, HandWrittenFilesReadLikeTheProgramsOwn) {
  TempDir dir;
  const std::string path = dir.File("hand.prj");
  Put(path,
      "[tmmledspin]\r\nLEDSPIN29=0x3\r\nledspin30=$A\r\nLedSpin43=oops\r\n"
      "[TCheckBox]\r\nChecked99=0\r\nChecked100=yes\r\n[Color]\r\nColor2=-1\r\n");
  const TAnalyzerSettings s = ReadAnalyzerSettings(path);
  EXPECT_EQ(s.LEDSpinYScale, 3);
  EXPECT_EQ(s.MMLEDSpin55, 10);
  EXPECT_EQ(s.SpinFreq1, -1);
  EXPECT_FALSE(s.CheckBox5);
  EXPECT_TRUE(s.CheckBox6);  // unparsable: the default, checked
  EXPECT_FALSE(IsStoredColor(s.Color[1]));
}

TEST(AnalyzerSettings, AFailedSaveLeavesTheOldFile) {
  TempDir dir;
  const std::string path = dir.File("big.prj");
  const std::string huge(kMaxIniFileSize + 10, '#');
  Put(path, huge);
  std::string error;
  EXPECT_FALSE(WriteAnalyzerSettings(path, TAnalyzerSettings{}, error));
  EXPECT_NE(error.find("too large"), std::string::npos) << error;
  EXPECT_EQ(fs::file_size(path), huge.size());
}

TEST(AnalyzerSettings, AWriterKilledAtAnyMomentLeavesAWholeFile) {
  TempDir dir;
  const std::string path = dir.File("Default.prj");
  TAnalyzerSettings a;
  TAnalyzerSettings b;
  b.SpinFreq1 = 1477;
  b.Color.fill(0x00FF00);
  b.CheckBox7 = true;
  std::string error;
  ASSERT_TRUE(WriteAnalyzerSettings(path, a, error));
  for (int round = 0; round < 12; ++round) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (int i = 0;; ++i) {
        std::string e;
        WriteAnalyzerSettings(path, (i % 2) ? a : b, e);
      }
    }
    ::usleep(static_cast<useconds_t>(3000 + round * 1700));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    const TAnalyzerSettings now = ReadAnalyzerSettings(path);
    EXPECT_TRUE(now == a || now == b) << "round " << round;
  }
}

}  // namespace
}  // namespace tv
