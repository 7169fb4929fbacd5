// Installing: `cmake --install` puts every file in its XDG place, the
// desktop file, AppStream metadata and manual pages pass their validators
// (where those are installed), and the Debian package unpacks into a
// private root from which the programs run.
#include <gtest/gtest.h>

#include <QStandardPaths>
#include <filesystem>
#include <string>
#include <vector>

#include "RunProcess.h"
#include "TestFiles.h"

namespace tv {
namespace {

namespace fs = std::filesystem;
using test::RunProcess;

std::string Tool(const char* name) {
  return QStandardPaths::findExecutable(QString::fromLatin1(name)).toStdString();
}

std::vector<std::string> DemosIn(const fs::path& dir) {
  std::vector<std::string> found;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) {
    if (e.path().extension() == ".wav") found.push_back(e.path().string());
  }
  return found;
}

// Text without the overstrike a manual page is rendered with for terminals.
std::string Plain(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '\b') {
      if (!out.empty()) out.pop_back();
      continue;
    }
    out += c;
  }
  return out;
}

// The files of an installation below `prefix` (".../usr" for the package).
void ExpectInstalledLayout(const fs::path& prefix) {
  for (const char* p : {"bin/tonvista", "bin/tonvista-decode", "bin/tonvista-devices",
                        "share/applications/org.quellfon.Tonvista.desktop",
                        "share/metainfo/org.quellfon.Tonvista.metainfo.xml",
                        "share/icons/hicolor/scalable/apps/org.quellfon.Tonvista.svg",
                        "share/man/man1/tonvista.1.gz", "share/man/man1/tonvista-decode.1.gz",
                        "share/man/man1/tonvista-devices.1.gz", "share/tonvista/help/index.html",
                        "share/doc/tonvista/copyright"}) {
    EXPECT_TRUE(fs::is_regular_file(prefix / p)) << p;
  }
  EXPECT_EQ(DemosIn(prefix / "share/tonvista/Decode Demos").size(), 4u);
}

// Starts the installed program with a private home and no display; it must
// draw its window and leave, having seeded its data folder.
// Under xvfb-run when it is installed (the X11 platform a desktop has).
void ExpectProgramStarts(const fs::path& prefix, const fs::path& home, bool onX11 = false) {
  fs::create_directories(home);
  const std::string shot = (home / "main.png").string();
  const std::string program = (prefix / "bin/tonvista").string();
  const std::string xvfb = onX11 ? Tool("xvfb-run") : std::string();
  const auto r = RunProcess(xvfb.empty() ? program : xvfb,
                            xvfb.empty() ? std::vector<std::string>{"--screenshot", shot}
                                         : std::vector<std::string>{"-a", program, "--screenshot", shot},
                            home.string(),
                            {xvfb.empty() ? "QT_QPA_PLATFORM=offscreen" : "QT_QPA_PLATFORM=xcb",
                             "HOME=" + home.string(),
                             "XDG_CONFIG_HOME=" + (home / "config").string(),
                             "XDG_DATA_HOME=" + (home / "data").string(),
                             "XDG_RUNTIME_DIR=" + home.string(), "TONVISTA_AUDIO=virtual",
                             "TONVISTA_CONFIG_DIR=", "TONVISTA_DATA_DIR="});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(fs::is_regular_file(shot)) << r.err;
  EXPECT_EQ(DemosIn(home / "data/Quellfon/Tonvista/Decode Demos").size(), 4u) << r.err;
}

TEST(Install, EveryFileLandsInItsPlaceAndPassesItsValidator) {
  test::TempDir dir;
  const fs::path prefix = dir.Path() / "prefix";
  const auto install = RunProcess(Tool("cmake"), {"--install", TONVISTA_BINARY_DIR, "--prefix",
                                                  prefix.string()});
  ASSERT_EQ(install.exitCode, 0) << install.out << install.err;
  ExpectInstalledLayout(prefix);

  if (const std::string v = Tool("desktop-file-validate"); !v.empty()) {
    const auto r = RunProcess(v, {(prefix / "share/applications/org.quellfon.Tonvista.desktop").string()});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(r.out + r.err, "");
  }
  if (const std::string v = Tool("appstreamcli"); !v.empty()) {
    const auto r = RunProcess(v, {"validate", "--no-net", "--pedantic",
                                  (prefix / "share/metainfo/org.quellfon.Tonvista.metainfo.xml").string()});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  }
  if (const std::string man = Tool("man"); !man.empty()) {
    for (const char* page : {"tonvista", "tonvista-decode", "tonvista-devices"}) {
      const auto r = RunProcess(man, {"--warnings", "-l", "-Tutf8",
                                      (prefix / "share/man/man1" / (std::string(page) + ".1.gz")).string()},
                                {}, {"MANWIDTH=80", "LC_ALL=C.UTF-8"});
      EXPECT_EQ(r.exitCode, 0) << page << r.err;
      EXPECT_EQ(r.err, "") << page;
      EXPECT_NE(Plain(r.out).find("SYNOPSIS"), std::string::npos) << page;
    }
  }
  ExpectProgramStarts(prefix, dir.Path() / "home");
}

TEST(Install, TheDebianPackageInstallsAndRuns) {
  const std::string cpack = Tool("cpack");
  const std::string dpkgDeb = Tool("dpkg-deb");
  if (cpack.empty() || dpkgDeb.empty()) GTEST_SKIP() << "cpack or dpkg-deb missing";
  test::TempDir dir;
  const auto pack = RunProcess(cpack, {"-G", "DEB", "--config", TONVISTA_BINARY_DIR "/CPackConfig.cmake",
                                       "-B", dir.Path().string()});
  ASSERT_EQ(pack.exitCode, 0) << pack.out << pack.err;
  std::string deb;
  for (const auto& e : fs::directory_iterator(dir.Path())) {
    if (e.path().extension() == ".deb") deb = e.path().string();
  }
  ASSERT_FALSE(deb.empty());
  EXPECT_EQ(fs::path(deb).filename().string().rfind("tonvista_", 0), 0u) << deb;

  const auto depends = RunProcess(dpkgDeb, {"--field", deb, "Depends"});
  EXPECT_NE(depends.out.find("libqt6widgets6"), std::string::npos) << depends.out;
  EXPECT_NE(depends.out.find("libmpg123-0"), std::string::npos) << depends.out;
  EXPECT_NE(depends.out.find("libportaudio2"), std::string::npos) << depends.out;
  const auto description = RunProcess(dpkgDeb, {"--field", deb, "Description"});
  EXPECT_EQ(description.out.find(';'), std::string::npos) << description.out;

  const fs::path root = dir.Path() / "root";
  const auto unpack = RunProcess(dpkgDeb, {"-x", deb, root.string()});
  ASSERT_EQ(unpack.exitCode, 0) << unpack.err;
  ExpectInstalledLayout(root / "usr");
  ExpectProgramStarts(root / "usr", dir.Path() / "home", true);
  const auto demos = DemosIn(root / "usr/share/tonvista/Decode Demos");
  ASSERT_FALSE(demos.empty());
  const auto decode = RunProcess((root / "usr/bin/tonvista-decode").string(), {demos.front()});
  EXPECT_EQ(decode.exitCode, 0) << decode.err;

  // Every dependency can be met from the system's package sources.
  if (const std::string apt = Tool("apt-get"); !apt.empty()) {
    const auto r = RunProcess(apt, {"install", "--simulate", "--no-install-recommends", deb}, {},
                              {"LC_ALL=C"});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  }
  if (const std::string lintian = Tool("lintian"); !lintian.empty()) {
    const auto r = RunProcess(lintian, {"--tag-display-limit", "0", deb});
    EXPECT_EQ(r.out.find("E: "), std::string::npos) << r.out;
  }
}

}  // namespace
}  // namespace tv
