// The RIFF WAVE layout shared by the reader, the writer and the wave object:
// chunk identifiers, the record of an opened or created file, the results of
// the open-file routines, and file lengths in 64 bits.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "MMPCMSup.h"
#include "MMWaveIO.h"

namespace tv {

// Results of the open-file routines.
enum TMMWaveResult : int {
  wrOk = 0,
  wrMissingList = 2,
  wrListReadError = 3,
  wrListOutOfMemory = 4,
  wrInvalidWave = 101,
  wrMissingArgument = 104,
  wrCannotOpen = 106,
  wrOutOfMemory = 107,
};

inline constexpr uint32_t kFourCCFmt = FourCC("fmt ");
inline constexpr uint32_t kFourCCData = FourCC("data");
inline constexpr uint32_t kFourCCFact = FourCC("fact");
inline constexpr uint32_t kFourCCInfo = FourCC("INFO");
inline constexpr uint32_t kFourCCDisp = FourCC("DISP");

// The standard INFO identifiers, in the order they are written.
inline constexpr std::array<uint32_t, 23> kInfoChunkIds = {
    FourCC("IARL"), FourCC("IART"), FourCC("ICMS"), FourCC("ICMT"), FourCC("ICOP"),
    FourCC("ICRD"), FourCC("ICRP"), FourCC("IDIM"), FourCC("IDPI"), FourCC("IENG"),
    FourCC("IGNR"), FourCC("IKEY"), FourCC("ILGT"), FourCC("IMED"), FourCC("INAM"),
    FourCC("IPLT"), FourCC("IPRD"), FourCC("ISBJ"), FourCC("ISFT"), FourCC("ISHP"),
    FourCC("ISRC"), FourCC("ISRF"), FourCC("ITCH")};

// Position of an INFO identifier in kInfoChunkIds, or -1.
inline int InfoIndex(uint32_t id) {
  for (size_t i = 0; i < kInfoChunkIds.size(); ++i) {
    if (kInfoChunkIds[i] == id) return static_cast<int>(i);
  }
  return -1;
}

// The largest chunk a 32-bit size field describes.
inline constexpr int64_t kMaxChunkSize = 0xFFFFFFFF;
// The longest INFO text kept, terminating zero included.
inline constexpr int64_t kMaxInfoText = 65536;

// A display chunk: its type (1 text, 8 picture, ...) and its bytes; text
// is held without its terminating zero.
struct TMMDispEntry {
  uint32_t Type = 0;
  std::vector<uint8_t> Data;
};

struct TMMWaveSegment {
  int64_t StartSample = 0;
  int64_t StartByte = 0;
  int64_t Samples = 0;
  int64_t Bytes = 0;
};

// The record of one opened or created file. Its fields mirror the file's
// chunks, hence their names.
struct WaveFileInfo {
  uint32_t dwInfoSize = 0;       // bytes of the record including the format
  uint32_t dwOpenFlags = 0;      // kOpenPlainFile: the only kind this system uses
  std::unique_ptr<TMMWaveIO> hmmio;  // none while closed between scan and OpenFile
  TMMChunkInfo ckRIFF;
  TMMChunkInfo ckData;           // dwFlags carries kChunkDirty once data was written
  int64_t dwFileSize = 0;
  int64_t dwDataBytes = 0;       // whole frames
  int64_t dwDataOffset = 0;      // file position of the first sample byte
  int64_t dwDataSamples = 0;
  int64_t dwStartSample = 0;
  int64_t dwEndSample = 0;
  // The read position and the bytes left live in the TMMWave that owns it.
  std::string FileName;
  std::vector<TMMDispEntry> Disp;
  std::array<std::string, 23> Info;  // by index in kInfoChunkIds
  WaveFormatPtr Format;
  // Where the scan found a "fact" chunk (its data offset), or -1; and
  // whether "fmt " came after the data, so that appending keeps both.
  int64_t FactOffset = -1;
  bool FmtAfterData = false;
  // Display entries (the first DispInPlace) and an INFO list found before
  // the data stay where they are when data is appended.
  size_t DispInPlace = 0;
  bool InfoInPlace = false;
};
inline constexpr uint32_t kOpenPlainFile = 0;

// ---- Lengths in 64 bits ---------------------------------------------------
// The size and time conversions of the format routines, in 64 bits so that
// data beyond 2 GB keeps its exact rounding.

__extension__ typedef __int128 TMMInt128;

// a * b / c rounded to nearest, saturated to the 64-bit range.
inline int64_t MulDivRound64(int64_t a, int64_t b, int64_t c) {
  if (c == 0) return 0;
  const TMMInt128 p = TMMInt128{a} * b;
  const TMMInt128 v = p / c + (2 * (p % c)) / c;
  if (v > std::numeric_limits<int64_t>::max()) return std::numeric_limits<int64_t>::max();
  if (v < std::numeric_limits<int64_t>::min()) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(v);
}

inline int64_t BytesToSamples64(const WAVEFORMATEX* f, int64_t bytes) {
  return f ? MulDivRound64(bytes, f->nSamplesPerSec, f->nAvgBytesPerSec) : 0;
}

inline int64_t RoundUpFrame(const WAVEFORMATEX* f, int64_t bytes) {
  const int64_t align = f->nBlockAlign;
  if (align == 0) return bytes;
  return ((bytes + align - 1) / align) * align;
}

// Samples to bytes, rounded up to whole frames.
inline int64_t SamplesToBytesR64(const WAVEFORMATEX* f, int64_t samples) {
  return f ? RoundUpFrame(f, MulDivRound64(samples, f->nAvgBytesPerSec, f->nSamplesPerSec)) : 0;
}

inline int64_t SamplesToMs64(const WAVEFORMATEX* f, int64_t samples) {
  return f ? MulDivRound64(samples, 1000, f->nSamplesPerSec) : 0;
}

inline int64_t MsToSamples64(const WAVEFORMATEX* f, int64_t ms) {
  return f ? MulDivRound64(ms, f->nSamplesPerSec, 1000) : 0;
}

}  // namespace tv
