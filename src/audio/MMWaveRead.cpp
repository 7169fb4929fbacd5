#include "MMWaveRead.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

#include "MMByteOrder.h"

namespace tv {

namespace {

// Bounds that keep a hostile header from costing unbounded memory or time.
constexpr int64_t kMaxFmtBytes = 18 + 65535;
constexpr int64_t kMaxDispBytes = int64_t{16} << 20;  // all display chunks together
constexpr size_t kMaxDispEntries = 256;
constexpr int kMaxChunks = 1 << 16;
constexpr int kMaxInfoEntries = 4096;
// How far back from the end of the file the header of the chunk after a
// mis-sized "data" chunk is looked for.
constexpr int64_t kTailWindow = int64_t{2} << 20;

bool Printable(uint8_t c) { return c >= 0x20 && c <= 0x7E; }

bool PlausibleId(const uint8_t* p) {
  return p[0] != ' ' && Printable(p[0]) && Printable(p[1]) && Printable(p[2]) && Printable(p[3]);
}

// Where the sample data of a "data" chunk really ends. The size field is
// not trusted on its own: writers that crashed or streamed leave it too
// large, zero or past the end of the file.
class DataEndFinder {
 public:
  DataEndFinder(TMMWaveIO& io, int64_t fileSize, int64_t riffDeclaredEnd)
      : io_(io), fileSize_(fileSize), riffEnd_(riffDeclaredEnd) {}

  // Answers the end of the data and the position of the next header.
  std::pair<int64_t, int64_t> Find(int64_t dataOff, uint32_t sizeField, bool cut) {
    if (!cut && sizeField != 0) {
      const int64_t claimEnd = dataOff + sizeField;
      const int64_t pad = sizeField & 1;
      if (IsEnd(claimEnd + pad) || HeaderFits(claimEnd + pad)) return {claimEnd, claimEnd + pad};
      if (pad != 0 && (IsEnd(claimEnd) || HeaderFits(claimEnd))) return {claimEnd, claimEnd};
      const int64_t found = EarliestChain(dataOff);
      if (found >= 0 && found < claimEnd) return {found, found};
      return {claimEnd, claimEnd + pad};
    }
    const int64_t found = EarliestChain(dataOff);
    if (found >= 0) return {found, found};
    const int64_t end = std::min(fileSize_, dataOff + kMaxChunkSize);
    return {end, end};
  }

 private:
  // A chunk list may end at the end of the file (give or take a missing pad
  // byte or a few stray bytes) or at the declared end of the RIFF chunk.
  bool IsEnd(int64_t q) const {
    return (q <= fileSize_ + 1 && fileSize_ - q < 8) || (q == riffEnd_ && q <= fileSize_);
  }

  bool HeaderFits(int64_t q) {
    if (q < 0 || q + 8 > fileSize_) return false;
    uint8_t head[8];
    if (io_.Seek(q, SEEK_SET) < 0 || io_.Read(head, 8) != 8) return false;
    return PlausibleId(head) && q + 8 + int64_t{LoadLE32(head + 4)} <= fileSize_ + 1;
  }

  // The earliest position near the end of the file that starts a run of
  // well-formed chunks reaching exactly to the end.
  int64_t EarliestChain(int64_t dataOff) {
    const int64_t w0 = std::max(dataOff, fileSize_ - kTailWindow);
    const int64_t len = fileSize_ - w0;
    if (len < 8) return -1;
    std::vector<uint8_t> win(static_cast<size_t>(len));
    if (io_.Seek(w0, SEEK_SET) < 0 || io_.Read(win.data(), len) != len) return -1;
    std::vector<uint8_t> valid(static_cast<size_t>(len), 0);
    int64_t earliest = -1;
    for (int64_t i = len - 8; i >= 0; --i) {
      const uint8_t* p = win.data() + i;
      if (!PlausibleId(p)) continue;
      const int64_t size = LoadLE32(p + 4);
      const int64_t next = w0 + i + 8 + size;
      bool ok = IsEnd(next) || IsEnd(next + (size & 1));
      for (int64_t q : {next + (size & 1), next}) {
        if (ok) break;
        if (q >= w0 && q - w0 < len && valid[static_cast<size_t>(q - w0)] != 0) ok = true;
      }
      if (ok) {
        valid[static_cast<size_t>(i)] = 1;
        earliest = w0 + i;
      }
    }
    return earliest;
  }

  TMMWaveIO& io_;
  int64_t fileSize_;
  int64_t riffEnd_;
};

void ReadInfoList(TMMWaveIO& io, int64_t from, int64_t end, WaveFileInfo& info) {
  int64_t p = from;
  for (int count = 0; p + 8 <= end && count < kMaxInfoEntries; ++count) {
    uint8_t head[8];
    if (io.Seek(p, SEEK_SET) < 0 || io.Read(head, 8) != 8) return;
    const uint32_t id = LoadLE32(head);
    const int64_t size = LoadLE32(head + 4);
    const int64_t textStart = p + 8;
    const int64_t avail = end - textStart;
    const int index = InfoIndex(id);
    if (index >= 0) {
      const int64_t n = std::min({size, avail, kMaxInfoText});
      std::string text(static_cast<size_t>(n), '\0');
      if (n > 0 && io.Read(text.data(), n) != n) return;
      const size_t zero = text.find('\0');
      if (zero != std::string::npos) text.resize(zero);
      info.Info[static_cast<size_t>(index)] = std::move(text);
    }
    if (size > avail) return;
    p = textStart + size + (size & 1);
  }
}

void ReadDisp(TMMWaveIO& io, int64_t dataOff, int64_t size, WaveFileInfo& info) {
  if (size < 4 || info.Disp.size() >= kMaxDispEntries) return;
  const int64_t payload = size - 4;
  int64_t held = 0;
  for (const TMMDispEntry& d : info.Disp) held += static_cast<int64_t>(d.Data.size());
  if (held + payload > kMaxDispBytes) return;
  uint8_t type[4];
  if (io.Seek(dataOff, SEEK_SET) < 0 || io.Read(type, 4) != 4) return;
  TMMDispEntry entry;
  entry.Type = LoadLE32(type);
  entry.Data.resize(static_cast<size_t>(payload));
  if (payload > 0 && io.Read(entry.Data.data(), payload) != payload) return;
  if (entry.Type == 1) {
    while (!entry.Data.empty() && entry.Data.back() == 0) entry.Data.pop_back();
  }
  info.Disp.push_back(std::move(entry));
}

// An extensible header that holds plain 8- or 16-bit integer PCM (its
// sub-format the PCM GUID, every bit of the container valid) is the same
// audio as a plain PCM header: read it as one, so that everything that
// takes PCM takes it.
void PlainPcmFromExtensible(WAVEFORMATEX& f, int64_t recordBytes) {
  static constexpr uint8_t kPcmGuid[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                           0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
  if (f.wFormatTag != 0xFFFE || f.cbSize < 22 || recordBytes < 40) return;
  if (f.wBitsPerSample != 8 && f.wBitsPerSample != 16) return;
  const uint8_t* extra = WaveFormatExtra(&f);
  const uint16_t valid = static_cast<uint16_t>(extra[0] | (extra[1] << 8));
  if (valid != 0 && valid != f.wBitsPerSample) return;
  if (std::memcmp(extra + 6, kPcmGuid, sizeof kPcmGuid) != 0) return;
  f.wFormatTag = WAVE_FORMAT_PCM;
}

// Checks a format read from a file and mends what the data length rules
// allow; false for one that later arithmetic could not survive.
bool ValidateFormat(WAVEFORMATEX& f) {
  if (f.nChannels == 0 || f.nSamplesPerSec == 0) return false;
  if (f.nSamplesPerSec > static_cast<uint32_t>(std::numeric_limits<int32_t>::max())) return false;
  if (f.wFormatTag == WAVE_FORMAT_PCM) {
    if (f.wBitsPerSample == 0) return false;
    // Samples of odd widths sit in whole bytes.
    const uint32_t align = ((uint32_t{f.wBitsPerSample} + 7) / 8) * f.nChannels;
    if (align == 0 || align > 0xFFFF) return false;
    const uint64_t avg = uint64_t{align} * f.nSamplesPerSec;
    if (avg > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) return false;
    f.nBlockAlign = static_cast<uint16_t>(align);
    f.nAvgBytesPerSec = static_cast<uint32_t>(avg);
    return true;
  }
  return f.nBlockAlign != 0 && f.nAvgBytesPerSec != 0 &&
         f.nAvgBytesPerSec <= static_cast<uint32_t>(std::numeric_limits<int32_t>::max());
}

}  // namespace

int ScanWaveFile(const std::string& name, WaveFileInfo& info) {
  if (name.empty()) return wrMissingArgument;
  TMMWaveIO io;
  if (!io.Open(name, TMMWaveIO::omRead)) return wrCannotOpen;
  const int64_t fileSize = io.Size();
  uint8_t head[12];
  if (io.Read(head, 12) != 12) return wrInvalidWave;
  if (LoadLE32(head) != kFourCCRiff || LoadLE32(head + 8) != kFourCCWave) return wrInvalidWave;
  info.ckRIFF.ckid = kFourCCRiff;
  info.ckRIFF.fccType = kFourCCWave;
  info.ckRIFF.dwDataOffset = 8;
  const int64_t riffDeclaredEnd = 8 + int64_t{LoadLE32(head + 4)};
  // A RIFF chunk that claims more than the file holds ends with the file.
  const int64_t riffEnd = std::min(riffDeclaredEnd, fileSize);
  info.ckRIFF.cksize = static_cast<uint32_t>(riffEnd - 8);

  DataEndFinder finder(io, fileSize, riffDeclaredEnd);
  WaveFormatPtr format;
  bool seenFmt = false, seenData = false, seenFact = false, dataSizeNonZero = false;
  int64_t dataOff = 0, dataEnd = 0;
  int64_t pos = 12;
  for (int chunks = 0; pos + 8 <= fileSize && chunks < kMaxChunks; ++chunks) {
    uint8_t ch[8];
    if (io.Seek(pos, SEEK_SET) < 0 || io.Read(ch, 8) != 8) break;
    const uint32_t id = LoadLE32(ch);
    const uint32_t sizeField = LoadLE32(ch + 4);
    const int64_t off = pos + 8;
    int64_t size = sizeField;
    int64_t end = off + size;
    bool cut = false;
    if (end > riffEnd) {
      if (seenFmt && seenData) break;
      if (end > fileSize) {
        size = fileSize - off;
        end = fileSize;
        cut = true;
      }
    }
    int64_t next = end + (size & 1);
    if (id == kFourCCFmt) {
      if (seenFmt) break;
      seenFmt = true;
      info.FmtAfterData = seenData;
      const int64_t n = std::min(size, kMaxFmtBytes);
      try {
        format = AllocWaveFormat(static_cast<size_t>(std::max<int64_t>(n, 18)));
      } catch (const std::bad_alloc&) {
        return wrOutOfMemory;
      }
      if (n > 0 && (io.Seek(off, SEEK_SET) < 0 || io.Read(format.get(), n) != n)) {
        return wrInvalidWave;
      }
      // A non-PCM record must hold the extra bytes its cbSize announces
      // (a 16-byte record has none).
      if (format->wFormatTag != WAVE_FORMAT_PCM && n >= 18 && 18 + int64_t{format->cbSize} > n) {
        return wrInvalidWave;
      }
      PlainPcmFromExtensible(*format, n);
    } else if (id == kFourCCData) {
      if (seenData) break;
      seenData = true;
      dataSizeNonZero = sizeField != 0;
      dataOff = off;
      const auto [e, n] = finder.Find(off, sizeField, cut);
      dataEnd = e;
      next = n;
      info.ckData.ckid = kFourCCData;
      info.ckData.cksize = sizeField;
      info.ckData.dwDataOffset = off;
    } else if (id == kFourCCFact) {
      if (seenFact) break;
      seenFact = true;
      // The value itself is replaced by the count the data gives.
      if (size >= 4 && !seenData) info.FactOffset = off;
    } else if (id == kFourCCList && size >= 4) {
      uint8_t type[4];
      if (io.Seek(off, SEEK_SET) >= 0 && io.Read(type, 4) == 4 && LoadLE32(type) == kFourCCInfo) {
        ReadInfoList(io, off + 4, end, info);
        if (!seenData) info.InfoInPlace = true;
      }
    } else if (id == kFourCCDisp) {
      ReadDisp(io, off, size, info);
      if (!seenData) info.DispInPlace = info.Disp.size();
    }
    if (next > fileSize) {
      // Cannot step out of this chunk: enough when real data was found.
      if (seenData && dataSizeNonZero) break;
      return wrInvalidWave;
    }
    pos = next;
  }
  if (!seenFmt || !seenData || !format) return wrInvalidWave;

  // Whole frames; a PCM header's stored frame size is replaced by the one its
  // sample width gives, so a bad stored value cannot swallow the data.
  int64_t dataBytes = std::clamp<int64_t>(dataEnd - dataOff, 0, kMaxChunkSize);
  if (!ValidateFormat(*format)) return wrInvalidWave;
  dataBytes -= dataBytes % format->nBlockAlign;
  if (format->wFormatTag == WAVE_FORMAT_PCM) format->cbSize = 0;

  info.Format = std::move(format);
  info.dwInfoSize = static_cast<uint32_t>(sizeof(WaveFileInfo) + WaveFormatSize(info.Format.get()));
  info.dwOpenFlags = kOpenPlainFile;
  info.dwFileSize = fileSize;
  info.dwDataOffset = dataOff;
  info.dwDataBytes = dataBytes;
  info.dwDataSamples = BytesToSamples64(info.Format.get(), dataBytes);
  info.dwStartSample = 0;
  info.dwEndSample = info.dwDataSamples;
  info.FileName = name;
  return wrOk;
}

}  // namespace tv
