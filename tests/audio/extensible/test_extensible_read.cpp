// Wave files whose header is the extensible kind: plain 8/16-bit PCM under
// it is read as PCM; anything else keeps its header.
#include <gtest/gtest.h>

#include "MMWaveRead.h"
#include "TestFiles.h"

namespace tv {
namespace {

using test::Bytes;

Bytes Extensible(uint16_t bits, uint16_t validBits, uint16_t subTag, uint16_t cbSize = 22) {
  Bytes f;
  const uint16_t align = static_cast<uint16_t>(2 * ((bits + 7) / 8));
  test::Put16(f, 0xFFFE);
  test::Put16(f, 2);
  test::Put32(f, 22050);
  test::Put32(f, 22050u * align);
  test::Put16(f, align);
  test::Put16(f, bits);
  test::Put16(f, cbSize);
  test::Put16(f, validBits);
  test::Put32(f, 0x3);
  test::Put16(f, subTag);
  for (uint8_t b : {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}) {
    f.push_back(b);
  }
  for (uint16_t i = 22; i < cbSize; ++i) f.push_back(0);
  return f;
}

uint16_t TagRead(const Bytes& fmt, int64_t& dataBytes) {
  test::TempDir dir;
  test::WriteAll(dir.File("x.wav"), test::RiffBuilder().Chunk("fmt ", fmt).Chunk("data", Bytes(400, 7)).Build());
  WaveFileInfo info;
  EXPECT_EQ(ScanWaveFile(dir.File("x.wav"), info), wrOk);
  dataBytes = info.dwDataBytes;
  return info.Format ? info.Format->wFormatTag : 0;
}

TEST(ExtensibleHeader, PlainPcmUnderItReadsAsPcm) {
  int64_t bytes = 0;
  EXPECT_EQ(TagRead(Extensible(16, 16, 1), bytes), WAVE_FORMAT_PCM);
  EXPECT_EQ(bytes, 400);
  EXPECT_EQ(TagRead(Extensible(8, 8, 1), bytes), WAVE_FORMAT_PCM);
  EXPECT_EQ(TagRead(Extensible(16, 0, 1), bytes), WAVE_FORMAT_PCM);  // 0: every bit valid
  EXPECT_EQ(TagRead(Extensible(16, 16, 1, 24), bytes), WAVE_FORMAT_PCM);
  // Not plain PCM: 12 valid bits, 24-bit samples, float, too short a record.
  EXPECT_EQ(TagRead(Extensible(16, 12, 1), bytes), 0xFFFE);
  EXPECT_EQ(TagRead(Extensible(24, 24, 1), bytes), 0xFFFE);
  EXPECT_EQ(TagRead(Extensible(32, 32, 3), bytes), 0xFFFE);
  EXPECT_EQ(TagRead(Extensible(16, 16, 1, 10), bytes), 0xFFFE);
}

}  // namespace
}  // namespace tv
