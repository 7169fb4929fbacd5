// The buffered RIFF file layer: chunk creation with size fix-up, searching
// descents bounded by their parent, and reads that see buffered writes.
#include <gtest/gtest.h>

#include <cstdio>

#include "MMWaveIO.h"
#include "TestFiles.h"

namespace tv {
namespace {

using test::Bytes;
using test::TempDir;

TEST(WaveIO, CreatedChunksGetTheirSizesAndPadOnAscend) {
  TempDir dir;
  const std::string path = dir.File("c.riff");
  {
    TMMWaveIO io;
    ASSERT_TRUE(io.Open(path, TMMWaveIO::omCreate));
    EXPECT_FALSE(TMMWaveIO().Open(path, TMMWaveIO::omCreate));  // never over an existing file
    TMMChunkInfo riff;
    riff.fccType = FourCC("TEST");
    ASSERT_EQ(io.CreateChunk(riff, kCreateRiff), ioOk);
    TMMChunkInfo a;
    a.ckid = FourCC("abcd");
    ASSERT_EQ(io.CreateChunk(a, 0), ioOk);
    EXPECT_EQ(io.Write("xyz", 3), 3);
    ASSERT_EQ(io.Ascend(a), ioOk);
    EXPECT_EQ(a.cksize, 3u);
    TMMChunkInfo list;
    list.fccType = FourCC("INFO");
    ASSERT_EQ(io.CreateChunk(list, kCreateList), ioOk);
    TMMChunkInfo b;
    b.ckid = FourCC("INAM");
    ASSERT_EQ(io.CreateChunk(b, 0), ioOk);
    EXPECT_EQ(io.Write("hi", 2), 2);
    ASSERT_EQ(io.Ascend(b), ioOk);
    ASSERT_EQ(io.Ascend(list), ioOk);
    ASSERT_EQ(io.Ascend(riff), ioOk);
    EXPECT_TRUE(io.Close());
  }
  const Bytes file = test::ReadAll(path);
  ASSERT_EQ(file.size(), 12u + 12 + 12 + 10);
  EXPECT_EQ(test::Get32(file, 4), file.size() - 8);
  EXPECT_EQ(test::Get32(file, 16), 3u);
  EXPECT_EQ(file[23], 0);  // pad
  EXPECT_EQ(test::Get32(file, 28), 14u);  // "INFO" + INAM chunk

  TMMWaveIO io;
  ASSERT_TRUE(io.Open(path, TMMWaveIO::omRead));
  TMMChunkInfo riff;
  riff.fccType = FourCC("TEST");
  ASSERT_EQ(io.Descend(riff, nullptr, kFindRiff), ioOk);
  TMMChunkInfo name;
  name.ckid = FourCC("INAM");
  // INAM lies inside the LIST: a search among the RIFF's children misses it.
  EXPECT_EQ(io.Descend(name, &riff, kFindChunk), ioChunkNotFound);
  ASSERT_EQ(io.Seek(12, SEEK_SET), 12);
  TMMChunkInfo list;
  list.fccType = FourCC("INFO");
  ASSERT_EQ(io.Descend(list, &riff, kFindList), ioOk);
  name.ckid = FourCC("INAM");
  ASSERT_EQ(io.Descend(name, &list, kFindChunk), ioOk);
  char text[2];
  EXPECT_EQ(io.Read(text, 2), 2);
  EXPECT_EQ(std::string(text, 2), "hi");
  EXPECT_EQ(io.Ascend(name), ioOk);
  EXPECT_EQ(io.Tell(), static_cast<int64_t>(file.size()));
  EXPECT_EQ(io.Write("no", 2), -1);  // read-only
}

TEST(WaveIO, ReadsSeeBufferedWritesAndSeeksStayInTheFile) {
  TempDir dir;
  const std::string path = dir.File("b.bin");
  TMMWaveIO io;
  ASSERT_TRUE(io.Open(path, TMMWaveIO::omCreate));
  ASSERT_TRUE(io.SetBuffer(16));
  Bytes data(100);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i);
  EXPECT_EQ(io.Write(data.data(), 10), 10);
  EXPECT_EQ(io.Write(data.data() + 10, 90), 90);
  EXPECT_EQ(io.Size(), 100);
  EXPECT_EQ(io.Seek(-5, SEEK_SET), -1);
  EXPECT_EQ(io.Seek(-10, SEEK_END), 90);
  EXPECT_EQ(io.Write("\xFF", 1), 1);
  ASSERT_EQ(io.Seek(85, SEEK_SET), 85);
  uint8_t got[10];
  EXPECT_EQ(io.Read(got, 10), 10);
  EXPECT_EQ(got[5], 0xFF);
  EXPECT_EQ(got[4], 89);
  EXPECT_EQ(io.Read(got, 10), 5);
  EXPECT_EQ(io.Read(got, 10), 0);
  // Ascending out of a chunk that claims more than the file holds fails.
  TMMChunkInfo bad;
  bad.dwDataOffset = 50;
  bad.cksize = 100;
  EXPECT_EQ(io.Ascend(bad), ioCannotSeek);
  EXPECT_TRUE(io.Truncate(40));
  EXPECT_EQ(io.Size(), 40);
  EXPECT_TRUE(io.Close());
  EXPECT_EQ(std::filesystem::file_size(path), 40u);
}

}  // namespace
}  // namespace tv
