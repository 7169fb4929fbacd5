#include "TMMWave.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <system_error>

#include "MMByteOrder.h"
#include "MMWaveConvert.h"
#include "MMWaveWrite.h"

namespace tv {

namespace {

constexpr int32_t kMaxIOBufferSize = 64 << 20;

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
  const std::string full = ExpandFileName(value);
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
  const std::string full = ExpandFileName(name);
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

void TMMWave::ConvertFile(const std::string& name, const WAVEFORMATEX* format) {
  ConvertWaveFile(*this, name, format);
}

}  // namespace tv
