#include "TMMWave.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <system_error>

#include "MMDispatch.h"

namespace tv {

const std::array<uint32_t, 23> kInfoChunkIds = {
    FourCC("IARL"), FourCC("IART"), FourCC("ICMS"), FourCC("ICMT"), FourCC("ICOP"),
    FourCC("ICRD"), FourCC("ICRP"), FourCC("IDIM"), FourCC("IDPI"), FourCC("IENG"),
    FourCC("IGNR"), FourCC("IKEY"), FourCC("ILGT"), FourCC("IMED"), FourCC("INAM"),
    FourCC("IPLT"), FourCC("IPRD"), FourCC("ISBJ"), FourCC("ISFT"), FourCC("ISHP"),
    FourCC("ISRC"), FourCC("ISRF"), FourCC("ITCH")};

namespace {

constexpr uint32_t kFourCCFmt = FourCC("fmt ");
constexpr uint32_t kFourCCData = FourCC("data");
constexpr uint32_t kFourCCFact = FourCC("fact");
constexpr uint32_t kFourCCInfo = FourCC("INFO");
constexpr uint32_t kFourCCDisp = FourCC("DISP");

// Bounds that keep a hostile header from costing unbounded memory or time.
constexpr int64_t kMaxFmtBytes = 18 + 65535;
constexpr int64_t kMaxInfoText = 65536;
constexpr int64_t kMaxDispBytes = int64_t{16} << 20;  // all display chunks together
constexpr size_t kMaxDispEntries = 256;
constexpr int kMaxChunks = 1 << 16;
constexpr int kMaxInfoEntries = 4096;
// How far back from the end of the file the header of the chunk after a
// mis-sized "data" chunk is looked for.
constexpr int64_t kTailWindow = int64_t{2} << 20;
constexpr int64_t kMaxChunkSize = 0xFFFFFFFF;
constexpr int32_t kMaxIOBufferSize = 64 << 20;

__extension__ typedef __int128 Int128;

int64_t MulDivRound64(int64_t a, int64_t b, int64_t c) {
  if (c == 0) return 0;
  const Int128 p = Int128{a} * b;
  const Int128 q = p / c;
  const Int128 r = p % c;
  const Int128 v = q + (2 * r) / c;
  if (v > std::numeric_limits<int64_t>::max()) return std::numeric_limits<int64_t>::max();
  if (v < std::numeric_limits<int64_t>::min()) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(v);
}

// The size and time conversions of the format routines, in 64 bits so
// that data beyond 2 GB keeps its exact rounding.
int64_t BytesToSamples64(const WAVEFORMATEX* f, int64_t bytes) {
  return f ? MulDivRound64(bytes, f->nSamplesPerSec, f->nAvgBytesPerSec) : 0;
}

int64_t RoundUpFrame(const WAVEFORMATEX* f, int64_t bytes) {
  const int64_t align = f->nBlockAlign;
  if (align == 0) return bytes;
  return ((bytes + align - 1) / align) * align;
}

int64_t SamplesToBytesR64(const WAVEFORMATEX* f, int64_t samples) {
  return f ? RoundUpFrame(f, MulDivRound64(samples, f->nAvgBytesPerSec, f->nSamplesPerSec)) : 0;
}

int64_t SamplesToMs64(const WAVEFORMATEX* f, int64_t samples) {
  return f ? MulDivRound64(samples, 1000, f->nSamplesPerSec) : 0;
}

int64_t MsToSamples64(const WAVEFORMATEX* f, int64_t ms) {
  return f ? MulDivRound64(ms, f->nSamplesPerSec, 1000) : 0;
}

uint32_t Load32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

void Store32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

int InfoIndex(uint32_t id) {
  for (size_t i = 0; i < kInfoChunkIds.size(); ++i) {
    if (kInfoChunkIds[i] == id) return static_cast<int>(i);
  }
  return -1;
}

bool Printable(uint8_t c) { return c >= 0x20 && c <= 0x7E; }

bool PlausibleId(const uint8_t* p) {
  return p[0] != ' ' && Printable(p[0]) && Printable(p[1]) && Printable(p[2]) && Printable(p[3]);
}

std::string ExpandName(const std::string& name) {
  if (name.empty()) return {};
  std::error_code ec;
  std::filesystem::path full = std::filesystem::absolute(name, ec);
  if (ec) return name;
  return full.lexically_normal().string();
}

std::filesystem::path FolderOf(const std::string& fullName) {
  std::filesystem::path dir = std::filesystem::path(fullName).parent_path();
  return dir.empty() ? std::filesystem::path(".") : dir;
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
    return PlausibleId(head) && q + 8 + int64_t{Load32(head + 4)} <= fileSize_ + 1;
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
      const int64_t size = Load32(p + 4);
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
    const uint32_t id = Load32(head);
    const int64_t size = Load32(head + 4);
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
  entry.Type = Load32(type);
  entry.Data.resize(static_cast<size_t>(payload));
  if (payload > 0 && io.Read(entry.Data.data(), payload) != payload) return;
  if (entry.Type == 1) {
    while (!entry.Data.empty() && entry.Data.back() == 0) entry.Data.pop_back();
  }
  info.Disp.push_back(std::move(entry));
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

int64_t TrailingSize(const WaveFileInfo& info) {
  int64_t n = 0;
  const WAVEFORMATEX* f = info.Format.get();
  if (info.FmtAfterData) {
    const int64_t fmt = f->wFormatTag == WAVE_FORMAT_PCM ? 16 : WaveFormatSize(f);
    n += 8 + fmt + (fmt & 1);
  }
  if (f->wFormatTag != WAVE_FORMAT_PCM && info.FactOffset < 0) n += 12;
  for (size_t i = info.DispInPlace; i < info.Disp.size(); ++i) {
    const TMMDispEntry& d = info.Disp[i];
    if (d.Type != 1 && d.Type != 8) continue;
    const int64_t body = 4 + static_cast<int64_t>(d.Data.size()) + (d.Type == 1 ? 1 : 0);
    n += 8 + body + (body & 1);
  }
  int64_t list = 0;
  for (const std::string& text : info.Info) {
    if (text.empty() || info.InfoInPlace) continue;
    const int64_t body = static_cast<int64_t>(text.size()) + 1;
    list += 8 + body + (body & 1);
  }
  if (list > 0) n += 12 + list;
  return n;
}

bool WriteChunk(TMMWaveIO& io, uint32_t id, const void* body, int64_t size) {
  uint8_t head[8];
  Store32(head, id);
  Store32(head + 4, static_cast<uint32_t>(size));
  if (io.Write(head, 8) != 8) return false;
  if (size > 0 && io.Write(body, size) != size) return false;
  if ((size & 1) != 0) {
    const uint8_t pad = 0;
    if (io.Write(&pad, 1) != 1) return false;
  }
  return true;
}

bool WriteFmtChunk(TMMWaveIO& io, const WAVEFORMATEX* f) {
  const int64_t size = f->wFormatTag == WAVE_FORMAT_PCM ? 16 : WaveFormatSize(f);
  return WriteChunk(io, kFourCCFmt, f, size);
}

// Everything that follows the sample data when a written file is closed.
bool WriteTrailing(TMMWaveIO& io, const WaveFileInfo& info) {
  const WAVEFORMATEX* f = info.Format.get();
  if (info.FmtAfterData && !WriteFmtChunk(io, f)) return false;
  if (f->wFormatTag != WAVE_FORMAT_PCM) {
    uint8_t samples[4];
    Store32(samples, static_cast<uint32_t>(std::min<int64_t>(info.dwDataSamples, kMaxChunkSize)));
    if (info.FactOffset >= 0) {
      const int64_t back = io.Tell();
      if (io.Seek(info.FactOffset, SEEK_SET) < 0 || io.Write(samples, 4) != 4) return false;
      io.Seek(back, SEEK_SET);
    } else if (!WriteChunk(io, kFourCCFact, samples, 4)) {
      return false;
    }
  }
  for (size_t k = info.DispInPlace; k < info.Disp.size(); ++k) {
    const TMMDispEntry& d = info.Disp[k];
    if (d.Type != 1 && d.Type != 8) continue;
    std::vector<uint8_t> body(4);
    Store32(body.data(), d.Type);
    body.insert(body.end(), d.Data.begin(), d.Data.end());
    if (d.Type == 1) body.push_back(0);
    if (!WriteChunk(io, kFourCCDisp, body.data(), static_cast<int64_t>(body.size()))) return false;
  }
  std::vector<uint8_t> list;
  for (size_t i = 0; i < info.Info.size(); ++i) {
    const std::string& text = info.Info[i];
    if (text.empty() || info.InfoInPlace) continue;
    uint8_t head[8];
    Store32(head, kInfoChunkIds[i]);
    Store32(head + 4, static_cast<uint32_t>(text.size() + 1));
    list.insert(list.end(), head, head + 8);
    list.insert(list.end(), text.begin(), text.end());
    list.push_back(0);
    if ((text.size() + 1) % 2 != 0) list.push_back(0);
  }
  if (!list.empty()) {
    uint8_t head[12];
    Store32(head, kFourCCList);
    Store32(head + 4, static_cast<uint32_t>(list.size() + 4));
    Store32(head + 8, kFourCCInfo);
    if (io.Write(head, 12) != 12) return false;
    if (io.Write(list.data(), static_cast<int64_t>(list.size())) !=
        static_cast<int64_t>(list.size())) {
      return false;
    }
  }
  return true;
}

std::mutex gDiskFreeLock;
TMMDiskFreeFunc gDiskFree;

[[noreturn]] void RaiseWave(int id) { throw EMMWaveError(LoadResString(id)); }

}  // namespace

// ---------------------------------------------------------------------------
// Header scan

int ScanWaveFile(const std::string& name, WaveFileInfo& info) {
  if (name.empty()) return wrMissingArgument;
  TMMWaveIO io;
  if (!io.Open(name, TMMWaveIO::omRead)) return wrCannotOpen;
  const int64_t fileSize = io.Size();
  uint8_t head[12];
  if (io.Read(head, 12) != 12) return wrInvalidWave;
  if (Load32(head) != kFourCCRiff || Load32(head + 8) != kFourCCWave) return wrInvalidWave;
  info.ckRIFF.ckid = kFourCCRiff;
  info.ckRIFF.fccType = kFourCCWave;
  info.ckRIFF.dwDataOffset = 8;
  const int64_t riffDeclaredEnd = 8 + int64_t{Load32(head + 4)};
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
    const uint32_t id = Load32(ch);
    const uint32_t sizeField = Load32(ch + 4);
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
      if (io.Seek(off, SEEK_SET) >= 0 && io.Read(type, 4) == 4 && Load32(type) == kFourCCInfo) {
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

void SetDiskFreeFunction(TMMDiskFreeFunc func) {
  std::lock_guard lock(gDiskFreeLock);
  gDiskFree = std::move(func);
}

int64_t DiskFree(const std::filesystem::path& path) {
  {
    std::lock_guard lock(gDiskFreeLock);
    if (gDiskFree) return gDiskFree(path);
  }
  std::error_code ec;
  const std::filesystem::space_info s = std::filesystem::space(path, ec);
  // A file system that cannot tell is not taken for a full one.
  if (ec) return std::numeric_limits<int64_t>::max();
  return static_cast<int64_t>(std::min<uintmax_t>(s.available, std::numeric_limits<int64_t>::max()));
}

// ---------------------------------------------------------------------------
// TMMWave

TMMWave::TMMWave() = default;

TMMWave::~TMMWave() {
  std::lock_guard lock(lock_);
  ClearLocked();
}

TMMTimeFormats TMMWave::TimeFormat() const {
  std::lock_guard lock(lock_);
  return timeFormat_;
}

void TMMWave::SetTimeFormat(TMMTimeFormats value) {
  std::lock_guard lock(lock_);
  timeFormat_ = value;
}

bool TMMWave::FileMustExist() const {
  std::lock_guard lock(lock_);
  return fileMustExist_;
}

void TMMWave::SetFileMustExist(bool value) {
  std::lock_guard lock(lock_);
  fileMustExist_ = value;
}

std::string TMMWave::FileName() const {
  std::lock_guard lock(lock_);
  return fileName_;
}

int32_t TMMWave::IOBufferSize() const {
  std::lock_guard lock(lock_);
  return ioBufferSize_;
}

void TMMWave::SetIOBufferSize(int32_t value) {
  std::lock_guard lock(lock_);
  ioBufferSize_ = std::clamp(value, kMinIOBufferSize, kMaxIOBufferSize);
}

const WAVEFORMATEX* TMMWave::PWaveFormat() const {
  std::lock_guard lock(lock_);
  return info_ ? info_->Format.get() : nullptr;
}

uint16_t TMMWave::BitLength() const {
  const WAVEFORMATEX* f = PWaveFormat();
  return f ? f->wBitsPerSample : 0;
}

TMMMode TMMWave::Mode() const {
  const WAVEFORMATEX* f = PWaveFormat();
  if (f == nullptr) return mMono;
  if (f->nChannels == 2) return mStereo;
  return f->nChannels > 2 ? mMultiChannel : mMono;
}

uint16_t TMMWave::FormatTag() const {
  const WAVEFORMATEX* f = PWaveFormat();
  return f ? f->wFormatTag : 0;
}

std::string TMMWave::FormatString() const { return FormatTagName(PWaveFormat()); }

int32_t TMMWave::SampleRate() const {
  const WAVEFORMATEX* f = PWaveFormat();
  return f ? static_cast<int32_t>(f->nSamplesPerSec) : 11025;
}

int64_t TMMWave::FileSize() const {
  std::lock_guard lock(lock_);
  return info_ ? info_->dwFileSize : 0;
}

int64_t TMMWave::DataSize() const {
  std::lock_guard lock(lock_);
  return info_ ? SamplesToTime(info_->dwDataSamples) : 0;
}

int64_t TMMWave::TotalSamples() const {
  std::lock_guard lock(lock_);
  return info_ ? info_->dwDataSamples : 0;
}

bool TMMWave::Empty() const { return TotalSamples() == 0; }

int64_t TMMWave::TimeToSamples(int64_t value) const {
  std::lock_guard lock(lock_);
  const WAVEFORMATEX* f = info_ ? info_->Format.get() : nullptr;
  switch (timeFormat_) {
    case tfMillisecond: return MsToSamples64(f, value);
    case tfByte: return BytesToSamples64(f, value);
    case tfSample: break;
  }
  return value;
}

int64_t TMMWave::SamplesToTime(int64_t samples) const {
  std::lock_guard lock(lock_);
  const WAVEFORMATEX* f = info_ ? info_->Format.get() : nullptr;
  switch (timeFormat_) {
    case tfMillisecond: return SamplesToMs64(f, samples);
    case tfByte: return SamplesToBytesR64(f, samples);
    case tfSample: break;
  }
  return samples;
}

int64_t TMMWave::SamplesToMs(int64_t samples) const {
  std::lock_guard lock(lock_);
  return SamplesToMs64(info_ ? info_->Format.get() : nullptr, samples);
}

int64_t TMMWave::MsToSamples(int64_t ms) const {
  std::lock_guard lock(lock_);
  return MsToSamples64(info_ ? info_->Format.get() : nullptr, ms);
}

int64_t TMMWave::SamplePosition() const {
  std::lock_guard lock(lock_);
  return position_;
}

int64_t TMMWave::Position() const {
  std::lock_guard lock(lock_);
  return info_ ? SamplesToTime(position_) : -1;
}

int64_t TMMWave::BytesLeft() const {
  std::lock_guard lock(lock_);
  return bytesLeft_;
}

bool TMMWave::IsOpen() const {
  std::lock_guard lock(lock_);
  return info_ && info_->hmmio;
}

void TMMWave::Notify() { observable_.Notify(this); }

void TMMWave::ClearLocked() {
  CloseFileLocked();
  info_.reset();
  segments_.clear();
  position_ = 0;
  bytesLeft_ = 0;
  reading_ = false;
}

void TMMWave::SetFileName(const std::string& value) {
  const std::string full = ExpandName(value);
  {
    std::unique_lock lock(lock_);
    std::error_code ec;
    if (!full.empty() && full == fileName_) {
      const bool exists = std::filesystem::is_regular_file(full, ec);
      const auto size = exists ? std::filesystem::file_size(full, ec) : 0;
      if (exists && !ec && info_ && static_cast<int64_t>(size) == info_->dwFileSize) return;
      if (!exists && !info_) return;
    }
    // Our own file must be finalised before it is read back.
    if (info_ && info_->hmmio && full == fileName_) CloseFileLocked();
    if (full.empty()) {
      ClearLocked();
      fileName_.clear();
    } else {
      auto fresh = std::make_unique<WaveFileInfo>();
      const bool exists = std::filesystem::exists(full, ec);
      const int result = exists ? ScanWaveFile(full, *fresh) : wrCannotOpen;
      if (result == wrOk) {
        ClearLocked();
        info_ = std::move(fresh);
        fileName_ = full;
        info_->dwStartSample = 0;
        info_->dwEndSample = info_->dwDataSamples;
        RebuildSegments();
      } else if (exists || fileMustExist_) {
        if (!exists) RaiseWave(SErrorReadingWaveFile);
        WaveFileInfo old;
        const bool oldParses = !fileName_.empty() && ScanWaveFile(fileName_, old) == wrOk;
        RaiseWave(oldParses ? SErrorReadingWaveFile : SInvalidWaveFile);
      } else {
        ClearLocked();
        fileName_ = full;
      }
    }
  }
  Notify();
}

void TMMWave::RebuildSegments() {
  segments_.clear();
  if (!info_) return;
  TMMWaveSegment s;
  s.StartSample = info_->dwStartSample;
  s.StartByte = SamplesToBytesR64(info_->Format.get(), info_->dwStartSample);
  s.Samples = info_->dwEndSample - info_->dwStartSample;
  s.Bytes = std::min(info_->dwDataBytes - s.StartByte,
                     SamplesToBytesR64(info_->Format.get(), s.Samples));
  segments_.push_back(s);
}

void TMMWave::CreateFile(const std::string& name, const WAVEFORMATEX* format) {
  if (name.empty() || format == nullptr) return;
  const std::string full = ExpandName(name);
  {
    std::lock_guard lock(lock_);
    if (info_ && full == fileName_) CloseFileLocked();
    std::error_code ec;
    const auto status = std::filesystem::symlink_status(full, ec);
    if (std::filesystem::exists(status)) {
      if (!std::filesystem::is_regular_file(status) && !std::filesystem::is_symlink(status)) {
        RaiseWave(SUnableToCreateWaveFile);
      }
      std::filesystem::remove(full, ec);
    }
    auto fresh = std::make_unique<WaveFileInfo>();
    fresh->Format = CopyWaveFormat(format);
    fresh->FileName = full;
    auto io = std::make_unique<TMMWaveIO>();
    if (!io->Open(full, TMMWaveIO::omCreate)) RaiseWave(SUnableToCreateWaveFile);
    // From here on a failure must not leave a partial file behind.
    struct Remover {
      const std::string& path;
      TMMWaveIO* io;
      bool armed = true;
      ~Remover() {
        if (!armed) return;
        io->Close();
        std::error_code e;
        std::filesystem::remove(path, e);
      }
    } remover{full, io.get()};
    if (!io->SetBuffer(ioBufferSize_)) RaiseWave(SUnableToSetupIOBuffer);
    fresh->ckRIFF.fccType = kFourCCWave;
    bool ok = io->CreateChunk(fresh->ckRIFF, kCreateRiff) == ioOk &&
              WriteFmtChunk(*io, fresh->Format.get());
    fresh->ckData.ckid = kFourCCData;
    ok = ok && io->CreateChunk(fresh->ckData, 0) == ioOk && io->Flush();
    if (!ok) RaiseWave(SUnableToCreateWaveFile);
    remover.armed = false;
    // Only the data chunk is fixed on close; the RIFF size is written then.
    fresh->ckRIFF.dwFlags = 0;
    fresh->ckData.dwFlags = 0;
    fresh->dwOpenFlags = kOpenPlainFile;
    fresh->dwInfoSize =
        static_cast<uint32_t>(sizeof(WaveFileInfo) + WaveFormatSize(fresh->Format.get()));
    fresh->dwDataOffset = fresh->ckData.dwDataOffset;
    fresh->dwFileSize = io->Size();
    fresh->hmmio = std::move(io);
    ClearLocked();
    info_ = std::move(fresh);
    fileName_ = full;
    RebuildSegments();
  }
  Notify();
}

int64_t TMMWave::MaxDataBytes() const {
  const int64_t align = std::max<int64_t>(1, info_->Format->nBlockAlign);
  int64_t room = kMaxChunkSize + 8 - info_->dwDataOffset - 1 - TrailingSize(*info_);
  room -= room % align;
  return std::max<int64_t>(0, room);
}

int32_t TMMWave::WriteData(const void* buffer, int32_t bytes) {
  std::lock_guard lock(lock_);
  if (!info_) return -1;
  TMMWaveIO* io = info_->hmmio.get();
  if (io == nullptr || !io->Writable() || buffer == nullptr || bytes <= 0) return 0;
  if (io->WriteFailedAt() >= 0) return 0;
  int64_t at = io->Tell() - info_->dwDataOffset;
  if (at < 0) {
    io->Seek(info_->dwDataOffset, SEEK_SET);
    at = 0;
  }
  const int64_t n = std::min<int64_t>(bytes, MaxDataBytes() - at);
  if (n <= 0) return 0;
  const int64_t got = io->Write(buffer, n);
  if (got > 0) info_->ckData.dwFlags |= kChunkDirty;
  const int64_t written = io->Tell() - info_->dwDataOffset;
  info_->dwDataBytes = std::max(info_->dwDataBytes, written);
  info_->dwDataSamples = BytesToSamples64(info_->Format.get(), info_->dwDataBytes);
  info_->dwEndSample = info_->dwDataSamples;
  position_ = BytesToSamples64(info_->Format.get(), written);
  if (io->WriteFailedAt() >= 0 || got <= 0) return 0;
  return static_cast<int32_t>(got);
}

bool TMMWave::Finalise() {
  TMMWaveIO& io = *info_->hmmio;
  const WAVEFORMATEX* f = info_->Format.get();
  const int64_t align = std::max<int64_t>(1, f->nBlockAlign);
  io.Flush();
  bool ok = true;
  int64_t data = info_->dwDataBytes;
  if (io.WriteFailedAt() >= 0) {
    // Keep what reached the disk, in whole frames.
    data = std::clamp<int64_t>(io.WriteFailedAt() - info_->dwDataOffset, 0, data);
    data -= data % align;
    io.ClearWriteError();
    ok = false;
  }
  info_->dwDataBytes = data;
  info_->dwDataSamples = BytesToSamples64(f, data);
  info_->dwEndSample = info_->dwDataSamples;
  const int64_t dataEnd = info_->dwDataOffset + data;
  const int64_t padded = dataEnd + (data & 1);
  int64_t end = padded;
  io.Seek(dataEnd, SEEK_SET);
  bool tail = true;
  if ((data & 1) != 0) {
    const uint8_t pad = 0;
    tail = io.Write(&pad, 1) == 1;
  }
  tail = tail && WriteTrailing(io, *info_) && io.Flush();
  if (tail) {
    end = io.Tell();
  } else {
    io.ClearWriteError();
    ok = false;
  }
  uint8_t field[4];
  Store32(field, static_cast<uint32_t>(data));
  bool head = io.Seek(info_->dwDataOffset - 4, SEEK_SET) >= 0 && io.Write(field, 4) == 4;
  Store32(field, static_cast<uint32_t>(std::min(end - 8, kMaxChunkSize)));
  head = head && io.Seek(4, SEEK_SET) >= 0 && io.Write(field, 4) == 4 && io.Flush();
  io.Truncate(end);
  info_->ckData.cksize = static_cast<uint32_t>(data);
  info_->ckData.dwFlags &= ~kChunkDirty;
  info_->ckRIFF.cksize = static_cast<uint32_t>(std::min(end - 8, kMaxChunkSize));
  info_->dwFileSize = end;
  return ok && head;
}

bool TMMWave::CloseFileLocked() {
  bool ok = true;
  if (info_ && info_->hmmio) {
    if ((info_->ckData.dwFlags & kChunkDirty) != 0) ok = Finalise();
    ok = info_->hmmio->Close() && ok;
    info_->hmmio.reset();
  }
  position_ = 0;
  bytesLeft_ = 0;
  reading_ = false;
  return ok;
}

void TMMWave::CloseFile() {
  std::lock_guard lock(lock_);
  CloseFileLocked();
}

void TMMWave::OpenFile() {
  std::lock_guard lock(lock_);
  if (!info_) return;
  const int64_t keep = position_;
  if (info_->hmmio) CloseFileLocked();
  position_ = keep;
  auto io = std::make_unique<TMMWaveIO>();
  if (!io->Open(fileName_, TMMWaveIO::omReadWrite) && !io->Open(fileName_, TMMWaveIO::omRead)) {
    RaiseWave(SUnableToOpenWaveFile);
  }
  uint8_t head[12];
  if (io->Read(head, 12) != 12 || Load32(head) != kFourCCRiff || Load32(head + 8) != kFourCCWave) {
    RaiseWave(SUnableToOpenWaveFile);
  }
  if (!io->SetBuffer(ioBufferSize_)) RaiseWave(SUnableToSetupIOBuffer);
  info_->hmmio = std::move(io);
  RebuildSegments();
  reading_ = true;
  SetPositionLocked(position_);
}

void TMMWave::SetPosition(int64_t pos) {
  std::lock_guard lock(lock_);
  if (!info_) return;
  SetPositionLocked(TimeToSamples(pos));
}

void TMMWave::SetPositionLocked(int64_t samples) {
  position_ = samples;
  if (!reading_ || !info_ || !info_->hmmio) return;
  int64_t total = 0, totalBytes = 0;
  for (const TMMWaveSegment& s : segments_) {
    total += s.Samples;
    totalBytes += s.Bytes;
  }
  position_ = std::clamp<int64_t>(position_, 0, total);
  const int64_t offset = std::min(SamplesToBytesR64(info_->Format.get(), position_), totalBytes);
  bytesLeft_ = totalBytes - offset;
  for (const TMMWaveSegment& s : segments_) {
    if (offset >= s.StartByte && offset <= s.StartByte + s.Bytes) {
      const int64_t at = info_->dwDataOffset + offset;
      if (info_->hmmio->Seek(at, SEEK_SET) < 0 && info_->hmmio->Seek(at, SEEK_SET) < 0) {
        RaiseWave(SErrorSeekingPosition);
      }
      break;
    }
  }
}

void TMMWave::SeekToEnd() {
  std::lock_guard lock(lock_);
  if (!info_ || !info_->hmmio) return;
  position_ = info_->dwDataSamples;
  bytesLeft_ = 0;
  info_->hmmio->Seek(info_->dwDataOffset + info_->dwDataBytes, SEEK_SET);
}

int32_t TMMWave::ReadLocked(void* buffer, int32_t bytes) {
  if (!info_ || bytesLeft_ <= 0 || !info_->hmmio || buffer == nullptr || bytes <= 0) return -1;
  TMMWaveIO& io = *info_->hmmio;
  int64_t totalBytes = 0;
  for (const TMMWaveSegment& s : segments_) totalBytes += s.Bytes;
  const int64_t want = std::min<int64_t>(bytes, bytesLeft_);
  const int64_t consumed = totalBytes - bytesLeft_;
  auto* out = static_cast<uint8_t*>(buffer);
  int64_t got = 0;
  for (const TMMWaveSegment& s : segments_) {
    if (got >= want) break;
    const int64_t offset = consumed + got;
    if (offset < s.StartByte || offset >= s.StartByte + s.Bytes) continue;
    const int64_t n = std::min(want - got, s.StartByte + s.Bytes - offset);
    const int64_t at = info_->dwDataOffset + offset;
    if (io.Tell() != at) io.Seek(at, SEEK_SET);
    const int64_t r = io.Read(out + got, n);
    if (r > 0) got += r;
    if (r < n) break;
  }
  return static_cast<int32_t>(got);
}

int32_t TMMWave::ReadData(void* buffer, int32_t bytes) {
  std::lock_guard lock(lock_);
  const int32_t got = ReadLocked(buffer, bytes);
  if (got < 0) return -1;
  if (got == 0) {
    // The file ended before its header said: one short block of silence
    // that tells the reader the data is over.
    const int32_t n = std::min(bytes, 4);
    std::memset(buffer, 0, static_cast<size_t>(n));
    bytesLeft_ = 0;
    position_ = info_->dwDataSamples;
    return n;
  }
  bytesLeft_ -= got;
  int64_t totalBytes = 0;
  for (const TMMWaveSegment& s : segments_) totalBytes += s.Bytes;
  position_ = BytesToSamples64(info_->Format.get(), totalBytes - bytesLeft_);
  return got;
}

void TMMWave::Assign(const TMMWave& other) {
  if (&other == this) return;
  SetFileMustExist(other.FileMustExist());
  SetTimeFormat(other.TimeFormat());
  SetIOBufferSize(other.IOBufferSize());
  SetFileName(other.FileName());
}

std::string TMMWave::Info(uint32_t id) const {
  std::lock_guard lock(lock_);
  const int i = InfoIndex(id);
  return (info_ && i >= 0) ? info_->Info[static_cast<size_t>(i)] : std::string();
}

void TMMWave::SetInfo(uint32_t id, const std::string& text) {
  std::lock_guard lock(lock_);
  const int i = InfoIndex(id);
  if (info_ && i >= 0) {
    info_->Info[static_cast<size_t>(i)] = text.substr(0, kMaxInfoText - 1);
    info_->InfoInPlace = false;
  }
}

std::vector<TMMDispEntry> TMMWave::DispEntries() const {
  std::lock_guard lock(lock_);
  return info_ ? info_->Disp : std::vector<TMMDispEntry>{};
}

void TMMWave::SetDispEntries(std::vector<TMMDispEntry> entries) {
  std::lock_guard lock(lock_);
  if (info_) {
    info_->Disp = std::move(entries);
    info_->DispInPlace = 0;
  }
}

// ---------------------------------------------------------------------------
// Conversion

namespace {

inline int32_t Load16s(const uint8_t* p) {
  return static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
}

inline void Store16s(uint8_t* p, int32_t v) {
  p[0] = static_cast<uint8_t>(v & 0xFF);
  p[1] = static_cast<uint8_t>((v >> 8) & 0xFF);
}

// High byte of a 16-bit sample, rounding toward minus infinity.
inline int32_t High(int32_t s) { return s >> 8; }

// One source frame in the target's class (mono/stereo, 8/16 bits); a
// four-channel target repeats the pair.
template <int SB, bool SS, int DB, bool DS, bool DQ>
inline void ConvertFrame(const uint8_t* in, uint8_t* out) {
  int32_t l, r;
  if constexpr (SB == 8) {
    l = in[0];
    r = SS ? in[1] : l;
  } else {
    l = Load16s(in);
    r = SS ? Load16s(in + 2) : l;
  }
  if constexpr (DB == 8) {
    if constexpr (DS) {
      if constexpr (SB == 8) {
        out[0] = static_cast<uint8_t>(l);
        out[1] = static_cast<uint8_t>(r);
      } else {
        out[0] = static_cast<uint8_t>(High(l) + 128);
        out[1] = static_cast<uint8_t>(High(r) + 128);
      }
      if constexpr (DQ) {
        out[2] = out[0];
        out[3] = out[1];
      }
    } else {
      if constexpr (SB == 8) {
        out[0] = static_cast<uint8_t>(SS ? (l + r) / 2 : l);
      } else if constexpr (SS) {
        out[0] = static_cast<uint8_t>(((l + 32768 + r + 32768) / 2) >> 8);
      } else {
        out[0] = static_cast<uint8_t>(High(l) + 128);
      }
    }
  } else {
    int32_t a, b;
    if constexpr (SB == 8) {
      if constexpr (SS && !DS) {
        a = b = ((l + r) / 2 - 128) * 256;
      } else {
        a = (l - 128) * 256;
        b = (r - 128) * 256;
      }
    } else {
      if constexpr (SS && !DS) {
        a = b = (l + 32768 + r + 32768) / 2 - 32768;
      } else {
        a = l;
        b = r;
      }
    }
    Store16s(out, a);
    if constexpr (DS) {
      Store16s(out + 2, b);
      if constexpr (DQ) {
        Store16s(out + 4, a);
        Store16s(out + 6, b);
      }
    }
  }
}

// Converts frames and changes the rate by holding or dropping whole frames;
// the accumulator runs on across blocks.
struct RateState {
  int64_t srcRate;
  int64_t dstRate;
  int64_t acc;
};

template <int SB, bool SS, int DB, bool DS, bool DQ>
int64_t ConvertBlock(RateState& st, const uint8_t* in, int64_t frames, int srcAlign, uint8_t* out) {
  // A constant frame size lets the copies below become plain stores.
  constexpr int dstAlign = (DB / 8) * (DQ ? 4 : (DS ? 2 : 1));
  uint8_t* o = out;
  int64_t acc = st.acc;
  if (st.srcRate > st.dstRate) {
    for (int64_t k = 0; k < frames; ++k) {
      acc -= st.dstRate;
      if (acc < 0) {
        ConvertFrame<SB, SS, DB, DS, DQ>(in + k * srcAlign, o);
        o += dstAlign;
        acc += st.srcRate;
      }
    }
  } else {
    uint8_t frame[8];
    for (int64_t k = 0; k < frames; ++k) {
      ConvertFrame<SB, SS, DB, DS, DQ>(in + k * srcAlign, frame);
      do {
        std::memcpy(o, frame, dstAlign);
        o += dstAlign;
        acc -= st.srcRate;
      } while (acc >= 0);
      acc += st.dstRate;
    }
  }
  st.acc = acc;
  return o - out;
}

using BlockFn = int64_t (*)(RateState&, const uint8_t*, int64_t, int, uint8_t*);

template <int SB, bool SS>
BlockFn PickTarget(const WAVEFORMATEX* d) {
  const bool ds = d->nChannels >= 2;
  const bool dq = d->nChannels >= 4;
  if (d->wBitsPerSample == 8) {
    if (dq) return ConvertBlock<SB, SS, 8, true, true>;
    return ds ? ConvertBlock<SB, SS, 8, true, false> : ConvertBlock<SB, SS, 8, false, false>;
  }
  if (dq) return ConvertBlock<SB, SS, 16, true, true>;
  return ds ? ConvertBlock<SB, SS, 16, true, false> : ConvertBlock<SB, SS, 16, false, false>;
}

// Sources of more than two channels contribute their first pair.
BlockFn PickConverter(const WAVEFORMATEX* s, const WAVEFORMATEX* d) {
  const bool ss = s->nChannels >= 2;
  if (s->wBitsPerSample == 8) return ss ? PickTarget<8, true>(d) : PickTarget<8, false>(d);
  return ss ? PickTarget<16, true>(d) : PickTarget<16, false>(d);
}

std::string MakeTempName(const std::filesystem::path& dir) {
  std::random_device rd;
  std::mt19937 gen(rd());
  for (int attempt = 0; attempt < 4096; ++attempt) {
    // The first tries use the short numbers 1..256; a crowded folder widens it.
    const uint32_t limit = attempt < 64 ? 256 : 0xFFFF;
    const uint32_t n = std::uniform_int_distribution<uint32_t>(1, limit)(gen);
    char name[32];
    std::snprintf(name, sizeof name, "w%X.tmp", n);
    const std::string path = (dir / name).string();
    TMMWaveIO probe;
    if (probe.Open(path, TMMWaveIO::omCreate)) return path;
    if (errno != EEXIST) return {};
  }
  return {};
}

}  // namespace

void TMMWave::ConvertFile(const std::string& name, const WAVEFORMATEX* format) {
  if (name.empty() || format == nullptr || PWaveFormat() == nullptr) RaiseWave(SInvalidParam);
  WaveFormatPtr src = CopyWaveFormat(PWaveFormat());
  if (!PcmFormatSupported(src.get()) || !PcmFormatSupported(format)) {
    RaiseWave(SNotValidForConversion);
  }
  WaveFormatPtr dst = CopyWaveFormat(format);
  // A caller's record may carry stale derived fields; the file gets exact ones.
  MakePcmFormat(*dst, dst->wBitsPerSample, dst->nChannels, static_cast<int>(dst->nSamplesPerSec));

  SetPosition(0);
  OpenFile();
  const int64_t total = BytesLeft();
  const std::string target = ExpandName(name);
  const std::filesystem::path dir = FolderOf(target);
  const std::string temp = MakeTempName(dir);
  if (temp.empty()) {
    CloseFile();
    RaiseWave(SUnableToConvert);
  }

  TMMWave out;
  out.SetIOBufferSize(IOBufferSize());
  bool cancelled = false;
  bool failed = false;
  try {
    out.CreateFile(temp, dst.get());
    {
      std::scoped_lock both(lock_, out.lock_);
      out.info_->Info = info_->Info;
      out.info_->Disp = info_->Disp;
      out.info_->DispInPlace = 0;
      out.info_->InfoInPlace = false;
    }
    const int srcAlign = src->nBlockAlign;
    const int64_t block = std::max<int64_t>(src->nAvgBytesPerSec - src->nAvgBytesPerSec % srcAlign,
                                            srcAlign);
    const int64_t maxFrames = block / srcAlign;
    const int64_t maxOut =
        (maxFrames * (dst->nSamplesPerSec / src->nSamplesPerSec + 2) + 2) * dst->nBlockAlign;
    std::vector<uint8_t> inBuf(static_cast<size_t>(block));
    std::vector<uint8_t> outBuf(static_cast<size_t>(maxOut));
    RateState rate{src->nSamplesPerSec, dst->nSamplesPerSec, 0};
    rate.acc = rate.srcRate > rate.dstRate ? rate.srcRate / 2 : rate.dstRate / 2;
    const BlockFn convert = PickConverter(src.get(), dst.get());
    const bool same = src->wBitsPerSample == dst->wBitsPerSample &&
                      src->nChannels == dst->nChannels && src->nSamplesPerSec == dst->nSamplesPerSec;
    int64_t done = 0;
    for (;;) {
      int32_t n;
      {
        // The short silent block that ReadData hands out for a file cut
        // short is not audio: a conversion simply ends there.
        std::lock_guard lock(lock_);
        n = ReadLocked(inBuf.data(), static_cast<int32_t>(block));
        if (n > 0) {
          bytesLeft_ -= n;
          position_ = BytesToSamples64(info_->Format.get(), info_->dwDataBytes - bytesLeft_);
        }
      }
      if (n <= 0) break;
      done += n;
      // Equal formats copy every frame once: the block goes out as it came.
      const uint8_t* result = inBuf.data();
      int64_t m = n - n % srcAlign;
      if (!same) {
        m = convert(rate, inBuf.data(), n / srcAlign, srcAlign, outBuf.data());
        result = outBuf.data();
      }
      if (m <= 0) break;
      if (DiskFree(dir) < m + IOBufferSize() + 10240) {
        failed = true;
        break;
      }
      if (out.WriteData(result, static_cast<int32_t>(m)) != m) {
        failed = true;
        break;
      }
      MainDispatcher().ProcessMessages();
      if (OnProgress) OnProgress(this, done, total, cancelled);
      if (cancelled) break;
    }
    bool closed;
    {
      std::lock_guard lock(out.lock_);
      closed = out.CloseFileLocked();
    }
    if (!closed) failed = true;
  } catch (...) {
    out.CloseFile();
    CloseFile();
    std::error_code ec;
    std::filesystem::remove(temp, ec);
    throw;
  }
  CloseFile();
  std::error_code ec;
  if (!failed && !cancelled) {
    // rename replaces an existing target in one step, so a failure leaves
    // the old file as it was.
    std::filesystem::rename(temp, target, ec);
    if (!ec) return;
  }
  std::filesystem::remove(temp, ec);
  RaiseWave(cancelled ? SConversionAborted : SUnableToConvert);
}

}  // namespace tv
