// Recordings as telephone equipment leaves them: compressed wave files, MP3,
// and extensible headers, decoded by the command-line decoder directly.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "DtmfSynth.h"
#include "RunProcess.h"
#include "TestFiles.h"

namespace tv {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::RunProcess;
using test::TempDir;

const std::string kDecoder = std::string(TONVISTA_BINARY_DIR) + "/bin/tonvista-decode";

void Tool(const std::string& program, const std::vector<std::string>& args) {
  const auto r = RunProcess(program, args);
  ASSERT_EQ(r.exitCode, 0) << program << ": " << r.err;
}

std::set<std::string> Listing(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

TEST(DecodeFormats, CompressedAndMp3RecordingsGiveTheirKeys) {
  TempDir dir;
  DtmfSignalOptions o;
  o.noiseDb = -45;
  const std::string keys = "0123456789*#ABCD";
  const std::string source = dir.File("call.wav");
  WriteDtmfWave(source, keys, o);
  Tool("/usr/bin/sox", {source, "-e", "u-law", dir.File("ulaw.wav")});
  Tool("/usr/bin/sox", {source, "-e", "a-law", dir.File("alaw.wav")});
  Tool("/usr/bin/sox", {source, "-e", "ima-adpcm", dir.File("ima.wav")});
  Tool("/usr/bin/sox", {source, "-e", "ms-adpcm", dir.File("ms.wav")});
  Tool("/usr/bin/lame", {"--quiet", "-b", "32", source, dir.File("call.mp3")});
  std::vector<std::string> files;
  for (const char* name : {"ulaw.wav", "alaw.wav", "ima.wav", "ms.wav", "call.mp3"}) files.push_back(dir.File(name));
  auto r = RunProcess(kDecoder, files);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::string expected;
  for (const auto& f : files) expected += f + ": " + keys + "\n";
  EXPECT_EQ(r.out, expected);
  EXPECT_EQ(r.err, "");

  // Kept, the converted files are wave files named so that the MP3's never
  // meets the wave source's; the decoded step leaves nothing.
  r = RunProcess(kDecoder, {"--keep", dir.File("call.mp3"), dir.File("ulaw.wav")});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  const auto names = Listing(dir.Path());
  for (const char* kept : {"call.mp3_acm.wav", "call.mp3_acm_norm.wav", "ulaw_acm.wav", "ulaw_acm_norm.wav"}) {
    EXPECT_EQ(names.count(kept), 1u) << kept;
  }
  EXPECT_EQ(names.size(), 10u);
  r = RunProcess(kDecoder, {dir.File("call.mp3_acm_norm.wav")});
  EXPECT_EQ(r.out, dir.File("call.mp3_acm_norm.wav") + ": " + keys + "\n");
}

// The extensible header, written out field by field.
Bytes ExtensibleFmt(uint16_t channels, uint32_t rate, uint16_t bits, uint16_t validBits, uint16_t subTag,
                    bool baseGuid = true) {
  Bytes f;
  const uint16_t align = static_cast<uint16_t>(channels * ((bits + 7) / 8));
  test::Put16(f, 0xFFFE);
  test::Put16(f, channels);
  test::Put32(f, rate);
  test::Put32(f, rate * align);
  test::Put16(f, align);
  test::Put16(f, bits);
  test::Put16(f, 22);  // cbSize
  test::Put16(f, validBits);
  test::Put32(f, channels == 1 ? 0x4 : 0x3);  // front centre, or front left and right
  // The sub-format: the tag in the base GUID xxxxxxxx-0000-0010-8000-00AA00389B71.
  test::Put16(f, subTag);
  const uint8_t tail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
  for (int i = 0; i < 14; ++i) f.push_back(baseGuid ? tail[i] : static_cast<uint8_t>(0x42 + i));
  return f;
}

TEST(DecodeFormats, ExtensibleHeadersAreReadForWhatTheyHold) {
  TempDir dir;
  DtmfSignalOptions o;
  struct Case {
    const char* name;
    uint16_t bits;
    uint16_t channels;
  };
  const Case cases[] = {{"ext16.wav", 16, 1}, {"ext16s.wav", 16, 2}, {"ext8.wav", 8, 1}};
  std::vector<std::string> files;
  for (const Case& c : cases) {
    o.bits = c.bits;
    o.channels = c.channels;
    WriteDtmfWave(dir.File("plain.wav"), "147", o);
    const Bytes plain = test::ReadAll(dir.File("plain.wav"));
    const std::string text(plain.begin(), plain.end());
    const size_t data = text.find("data");
    ASSERT_NE(data, std::string::npos);
    const Bytes samples(plain.begin() + static_cast<long>(data) + 8, plain.end());
    test::WriteAll(dir.File(c.name), test::RiffBuilder()
                                         .Chunk("fmt ", ExtensibleFmt(c.channels, 8000, c.bits, c.bits, 1))
                                         .Chunk("data", samples)
                                         .Build());
    files.push_back(dir.File(c.name));
  }
  auto r = RunProcess(kDecoder, files);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, files[0] + ": 147\n" + files[1] + ": 147\n" + files[2] + ": 147\n");

  // Formats we cannot take are named for what they are.
  test::WriteAll(dir.File("odd.wav"), test::RiffBuilder()
                                          .Chunk("fmt ", ExtensibleFmt(1, 8000, 16, 16, 1, false))
                                          .Chunk("data", Bytes(1600, 0))
                                          .Build());
  Bytes gsm = ExtensibleFmt(1, 8000, 0, 0, 0x31);
  gsm[8] = 0x59, gsm[9] = 0x06;  // 1625 bytes a second
  gsm[12] = 65;                  // in blocks of 65 bytes
  test::WriteAll(dir.File("gsm.wav"), test::RiffBuilder()
                                          .Chunk("fmt ", gsm)
                                          .Chunk("data", Bytes(650, 0))
                                          .Build());
  test::WriteAll(dir.File("float.wav"), test::RiffBuilder()
                                            .Chunk("fmt ", test::FmtBody(3, 1, 8000, 20))
                                            .Chunk("data", Bytes(1600, 0))
                                            .Build());
  const std::pair<std::string, std::string> named[] = {
      {"odd.wav", "extensible wave format with an unknown sub-format"},
      {"gsm.wav", "extensible GSM 6.10"},
      {"float.wav", "IEEE float, 20 bits"},
  };
  for (const auto& [name, format] : named) {
    r = RunProcess(kDecoder, {dir.File(name)});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find(format), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("ADPCM"), std::string::npos) << r.err;
  }
}

}  // namespace
}  // namespace tv
