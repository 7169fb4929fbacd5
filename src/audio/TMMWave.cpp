#include "TMMWave.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <system_error>

#include "MMByteOrder.h"
#include "MMDispatch.h"
#include "MMWaveWrite.h"

namespace tv {

namespace {

constexpr int32_t kMaxIOBufferSize = 64 << 20;

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

[[noreturn]] void RaiseWave(int id) { throw EMMWaveError(LoadResString(id)); }

}  // namespace

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

bool TMMWave::EndedEarly() const {
  std::lock_guard lock(lock_);
  return endedEarly_;
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
        (void)io->Close();  // the partial file goes anyway
        std::error_code e;
        std::filesystem::remove(path, e);
      }
    } remover{full, io.get()};
    if (!io->SetBuffer(ioBufferSize_)) RaiseWave(SUnableToSetupIOBuffer);
    if (!WriteWaveHeader(*io, *fresh)) RaiseWave(SUnableToCreateWaveFile);
    remover.armed = false;
    fresh->dwOpenFlags = kOpenPlainFile;
    fresh->dwInfoSize =
        static_cast<uint32_t>(sizeof(WaveFileInfo) + WaveFormatSize(fresh->Format.get()));
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
    if (io->Seek(info_->dwDataOffset, SEEK_SET) < 0) return 0;
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

bool TMMWave::CloseFileLocked() {
  bool ok = true;
  if (info_ && info_->hmmio) {
    if ((info_->ckData.dwFlags & kChunkDirty) != 0) ok = FinishWaveFile(*info_->hmmio, *info_);
    ok = info_->hmmio->Close() && ok;
    info_->hmmio.reset();
  }
  position_ = 0;
  bytesLeft_ = 0;
  reading_ = false;
  endedEarly_ = false;
  return ok;
}

bool TMMWave::CloseFile() {
  std::lock_guard lock(lock_);
  return CloseFileLocked();
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
  if (io->Read(head, 12) != 12 || LoadLE32(head) != kFourCCRiff || LoadLE32(head + 8) != kFourCCWave) {
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
  endedEarly_ = false;
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
  if (info_->hmmio->Seek(info_->dwDataOffset + info_->dwDataBytes, SEEK_SET) < 0) {
    RaiseWave(SErrorSeekingPosition);
  }
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
    if (io.Tell() != at && io.Seek(at, SEEK_SET) < 0) RaiseWave(SErrorSeekingPosition);
    const int64_t r = io.Read(out + got, n);
    // The disk failed: unlike the end of the file, not a reason to stop
    // quietly with what was read.
    if (r < 0) RaiseWave(SErrorReadingWaveFile);
    got += r;
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
    endedEarly_ = true;
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
    l = LoadLE16s(in);
    r = SS ? LoadLE16s(in + 2) : l;
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
    StoreLE16(out, static_cast<uint16_t>(a));
    if constexpr (DS) {
      StoreLE16(out + 2, static_cast<uint16_t>(b));
      if constexpr (DQ) {
        StoreLE16(out + 4, static_cast<uint16_t>(a));
        StoreLE16(out + 6, static_cast<uint16_t>(b));
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
    (void)CloseFile();  // only read: nothing of it can be lost
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
    // The conversion failed: its temporary file goes, the source was only read.
    (void)out.CloseFile();
    (void)CloseFile();
    std::error_code ec;
    std::filesystem::remove(temp, ec);
    throw;
  }
  (void)CloseFile();  // only read: nothing of it can be lost
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
