#include "TMMWaveFile.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <utility>

#include <unistd.h>

#include "MMByteOrder.h"
#include "MMErrors.h"

namespace tv {

namespace {

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// A name beside `target` that no file has yet.
std::string PartialName(const std::string& target) {
  static std::atomic<uint32_t> counter{0};
  const std::filesystem::path t(target);
  std::error_code ec;
  for (;;) {
    const std::filesystem::path p =
        t.parent_path() / (t.filename().string() + "." + std::to_string(getpid()) + "-" +
                           std::to_string(counter.fetch_add(1)) + ".part");
    if (!std::filesystem::exists(std::filesystem::symlink_status(p, ec))) return p.string();
  }
}

// True when the RIFF size covers the file exactly and the data chunk lies
// inside it: what a player relies on.
bool HeaderMatchesData(const std::string& path) {
  std::error_code ec;
  const auto size = static_cast<int64_t>(std::filesystem::file_size(path, ec));
  if (ec || size < 12) return false;
  std::ifstream in(path, std::ios::binary);
  uint8_t head[12];
  if (!in.read(reinterpret_cast<char*>(head), 12)) return false;
  if (LoadLE32(head) != kFourCCRiff || LoadLE32(head + 8) != kFourCCWave) return false;
  const int64_t riff = LoadLE32(head + 4);
  if (riff + 8 != size && !(riff == kMaxChunkSize && size > riff + 8)) return false;
  int64_t at = 12;
  while (at + 8 <= size) {
    uint8_t chunk[8];
    in.seekg(at);
    if (!in.read(reinterpret_cast<char*>(chunk), 8)) return false;
    const int64_t length = LoadLE32(chunk + 4);
    if (LoadLE32(chunk) == kFourCCData) return at + 8 + length <= size;
    at += 8 + length + (length & 1);
  }
  return false;
}

}  // namespace

// ---------------------------------------------------------------------------
// TMMCustomFile

int32_t TMMCustomFile::SampleRate() const {
  const WAVEFORMATEX* f = PWaveFormat();
  return f ? static_cast<int32_t>(f->nSamplesPerSec) : 0;
}

int32_t TMMCustomFile::Channels() const {
  const WAVEFORMATEX* f = PWaveFormat();
  return f ? f->nChannels : 0;
}

int32_t TMMCustomFile::BitRate() const {
  const WAVEFORMATEX* f = PWaveFormat();
  return f ? static_cast<int32_t>(std::min<uint64_t>(uint64_t{f->nAvgBytesPerSec} * 8, INT32_MAX))
           : 0;
}

// ---------------------------------------------------------------------------
// TMMCustomWaveFile

TMMCustomWaveFile::TMMCustomWaveFile(std::string name)
    : TMMCustomFile(std::move(name)), wave_(std::make_unique<TMMWave>()), observer_(this) {
  observer_.OnNotify = [this](void*, TMMObservable*, void*) { WaveChanged(); };
  wave_->Observable().AddObserver(&observer_);
}

TMMCustomWaveFile::~TMMCustomWaveFile() { wave_->Observable().RemoveObserver(&observer_); }

bool TMMCustomWaveFile::CanOpenWaveFile(const std::string& name) {
  if (name.empty()) return false;
  const std::string ext = std::filesystem::path(name).extension().string();
  if (!ext.empty() && Upper("*.wav").find(Upper(ext)) == std::string::npos) return false;
  WaveFileInfo info;
  return ScanWaveFile(name, info) == wrOk;
}

bool TMMCustomWaveFile::GetFileInfo(const std::string& name, TMMFileInfo& info) const {
  WaveFileInfo scan;
  if (ScanWaveFile(name, scan) != wrOk) return false;
  const WAVEFORMATEX* f = scan.Format.get();
  info = TMMFileInfo{};
  info.FileType = ftWave;
  info.Length = SamplesToMilliseconds64(f, scan.dwDataSamples);
  info.FileName = std::filesystem::path(name).filename().string();
  info.SampleRate = static_cast<int32_t>(f->nSamplesPerSec);
  info.Channels = f->nChannels;
  info.BitsPerSample = f->wBitsPerSample;
  info.BitRate = static_cast<int32_t>(std::min<uint64_t>(uint64_t{f->nAvgBytesPerSec} * 8, INT32_MAX));
  info.Title = scan.Info[14];    // INAM
  info.Artist = scan.Info[1];    // IART
  info.Comment = scan.Info[3];   // ICMT
  info.Year = scan.Info[5];      // ICRD
  info.Genre = scan.Info[10];    // IGNR
  return true;
}

std::string TMMCustomWaveFile::FileFilter() const { return LoadResString(SWaveFileFilter); }

int32_t TMMCustomWaveFile::BlockAlign() const {
  const WAVEFORMATEX* f = wave_->PWaveFormat();
  return f ? f->nBlockAlign : 0;
}

int64_t TMMCustomWaveFile::Time() const { return wave_->SamplesToMs(wave_->TotalSamples()); }

int64_t TMMCustomWaveFile::PositionMs() const {
  return wave_->SamplesToMs(wave_->SamplePosition());
}

void TMMCustomWaveFile::SetPositionMs(int64_t value) {
  if (wave_->PWaveFormat() == nullptr) return;
  wave_->SetPosition(wave_->SamplesToTime(wave_->MsToSamples(value)));
}

// ---------------------------------------------------------------------------
// TMMWaveFile

TMMWaveFile::TMMWaveFile(std::string name) : TMMCustomWaveFile(std::move(name)) {}

TMMWaveFile::~TMMWaveFile() {
  try {
    Close();
  } catch (const std::exception&) {
    // A file that cannot be finalised now is left as the last write made it.
  }
  Unlink();
}

void TMMWaveFile::SetPWaveFormat(const WAVEFORMATEX* value) {
  TMMCustomWaveFile::SetPWaveFormat(value);
  silence_.store(SilenceByte(PWaveFormat()));
}

struct TMMWaveFile::OwnChange {
  explicit OwnChange(TMMWaveFile& f) : file(f) {
    file.ownChangeThread_.store(std::this_thread::get_id());
  }
  ~OwnChange() { file.ownChangeThread_.store(std::thread::id{}); }
  OwnChange(const OwnChange&) = delete;
  OwnChange& operator=(const OwnChange&) = delete;
  TMMWaveFile& file;
};

std::string TMMWaveFile::WriteError() const {
  std::lock_guard lock(errorLock_);
  return writeError_;
}

void TMMWaveFile::SetWriteError(const std::string& text) {
  std::lock_guard lock(errorLock_);
  // The first cause is the one worth telling.
  if (writeError_.empty() || text.empty()) writeError_ = text;
}

void TMMWaveFile::WaveChanged() {
  if (ownChangeThread_.load() == std::this_thread::get_id()) return;
  if (OnChange) OnChange(this);
  try {
    if (Wave().FileMustExist() || Wave().PWaveFormat() != nullptr) SetPWaveFormat(Wave().PWaveFormat());
  } catch (...) {
    if (OnChanged) OnChanged(this);
    throw;
  }
  if (OnChanged) OnChanged(this);
}

void TMMWaveFile::FireSynchronized(const TNotifyEvent& event) {
  if (!event) return;
  CallSynchronized([this, &event] { event(this); });
}

void TMMWaveFile::Open() {
  TMMCustomWaveFile::Open();
  if (fileOpen_.load()) return;
  TMMWave& wave = Wave();
  writing_ = false;
  stored_.store(false);
  if (Writer()) {
    SetWriteError({});
    SetPWaveFormat(Input()->PWaveFormat());
    const WAVEFORMATEX* f = PWaveFormat();
    const std::string name = wave.FileName();
    if (f != nullptr && !name.empty()) {
      if (OverwriteExisting() || wave.Empty()) {
        CreateForWriting(name, f);
      } else {
        // Samples of another layout would turn the existing file to noise.
        if (!SameWaveFormat(wave.PWaveFormat(), f)) {
          throw EMMWaveError(LoadResString(SAppendFormatMismatch));
        }
        OwnChange own(*this);
        wave.OpenFile();
        wave.SeekToEnd();
      }
      writing_ = wave.IsOpen();
    }
  } else if (!wave.Empty()) {
    wave.OpenFile();
    startPosition_ = wave.Position();
  }
  if (wave.IsOpen()) {
    fileOpen_.store(true);
    FireSynchronized(OnOpen);
  }
}

void TMMWaveFile::CreateForWriting(const std::string& name, const WAVEFORMATEX* format) {
  const std::string target = ExpandFileName(name);
  std::error_code ec;
  const auto status = std::filesystem::symlink_status(target, ec);
  // Only a file can be replaced by a recording.
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status) &&
      !std::filesystem::is_symlink(status)) {
    throw EMMWaveError(LoadResString(SUnableToCreateWaveFile));
  }
  const std::string partial = PartialName(target);
  OwnChange own(*this);
  // An unwritable folder fails here, before anything was touched.
  Wave().CreateFile(partial, format);
  target_ = target;
  partial_ = partial;
}

bool TMMWaveFile::Commit(bool finished) {
  const std::string target = std::exchange(target_, {});
  const std::string partial = std::exchange(partial_, {});
  TMMWave& wave = Wave();
  const std::string named = wave.FileName();
  std::error_code ec;
  bool placed = false;
  if (!stored_.load() && std::filesystem::exists(std::filesystem::symlink_status(target, ec))) {
    // Nothing was recorded (a start that failed, or an immediate stop): an
    // empty file is no reason to give up the one there.
    std::filesystem::remove(partial, ec);
  } else if (HeaderMatchesData(partial)) {
    std::filesystem::rename(partial, target, ec);
    placed = !ec;
    // Left where it is, the recording is at least not lost.
    if (!placed) finished = false;
  } else {
    std::filesystem::remove(partial, ec);
    finished = false;
  }
  if (!finished) SetWriteError(LoadResString(SErrorWritingWaveFile));
  // The wave shows the recording under its own name (or the file it was to
  // replace, when that stays).
  if (named == partial || named == target) {
    OwnChange own(*this);
    try {
      wave.SetFileName(placed || !std::filesystem::exists(partial, ec) ? target : partial);
    } catch (const std::exception&) {
      // The name stays; the file behind it is as the rename left it.
    }
  }
  return finished;
}

void TMMWaveFile::Start() {
  TMMCustomWaveFile::Start();
  if (!fileOpen_.load() || fileStarted_.load()) return;
  fileStarted_.store(true);
  if (!Writer()) Wave().SetPosition(startPosition_);
}

void TMMWaveFile::Stop() {
  fileStarted_.store(false);
  TMMCustomWaveFile::Stop();
}

void TMMWaveFile::Close() {
  const bool finished = CloseWave();
  TMMCustomWaveFile::Close();
  // A written file that could not be finished must not pass for complete.
  if (!finished) throw EMMWaveError(LoadResString(SErrorWritingWaveFile));
}

bool TMMWaveFile::CloseWave() {
  // The writer may close itself from a driver thread while the chain closes
  // it from the main thread: only one of them finalises.
  if (!fileOpen_.exchange(false)) return true;
  Stop();
  TMMWave& wave = Wave();
  const bool writer = std::exchange(writing_, false);
  if (writer && wave.Empty()) {
    const uint8_t zeros[4] = {0, 0, 0, 0};
    (void)wave.WriteData(zeros, 4);  // a failure shows in CloseFile
  }
  bool finished = wave.CloseFile() || !writer;
  if (!partial_.empty()) {
    finished = Commit(finished);
  } else if (!finished) {
    SetWriteError(LoadResString(SErrorWritingWaveFile));
  }
  FireSynchronized(OnClose);
  return finished;
}

void TMMWaveFile::Store(PWaveHdr buffer) {
  TMMWave& wave = Wave();
  const int64_t need = int64_t{wave.IOBufferSize()} + buffer->dwBytesRecorded + 10240;
  const int32_t bytes = static_cast<int32_t>(buffer->dwBytesRecorded);
  // A full disk ends the recording, as a recorder is expected to: not an
  // error, and what reached the disk stays a valid file.
  const bool full = DiskFree(FolderOfFile(wave.FileName())) < need;
  const int32_t written = full ? 0 : wave.WriteData(buffer->lpData, bytes);
  if (written > 0) stored_.store(true);
  if (written != bytes) {
    SetWriteError(LoadResString(full ? SDiskFullRecording : SErrorWritingWaveFile));
    (void)CloseWave();
    TMMCustomWaveFile::Close();
  }
}

void TMMWaveFile::BufferReady(PWaveHdr buffer) {
  if (Writer() && fileStarted_.load() && Enabled() && !Wave().FileName().empty() &&
      buffer->dwBytesRecorded > 0) {
    Store(buffer);
  }
  TMMCustomWaveFile::BufferReady(buffer);
}

void TMMWaveFile::BufferLoad(PWaveHdr buffer, bool& moreBuffers) {
  TMMWave& wave = Wave();
  if (Writer()) {
    TMMCustomWaveFile::BufferLoad(buffer, moreBuffers);
    if (fileStarted_.load() && Enabled() && !wave.FileName().empty() &&
        buffer->dwBytesRecorded > 0) {
      Store(buffer);
    }
    return;
  }
  if (wave.Empty()) {
    buffer->dwBytesRecorded = 0;
    return;
  }
  if (!fileStarted_.load() || !Enabled()) {
    std::memset(buffer->lpData, silence_.load(), buffer->dwBufferLength);
    buffer->dwBytesRecorded = buffer->dwBufferLength;
    moreBuffers = true;
    return;
  }
  const int32_t want = static_cast<int32_t>(std::min<uint32_t>(buffer->dwBufferLength, INT32_MAX));
  const int32_t got = wave.ReadData(buffer->lpData, want);
  buffer->dwBytesRecorded = got > 0 ? static_cast<uint32_t>(got) : 0;
  if (got <= 0) return;
  if (wave.BytesLeft() > 0) {
    moreBuffers = true;
    return;
  }
  if (buffer->LoopEnabled == 0) return;
  if (buffer->LoopCount > 0) --buffer->LoopCounter;
  if (buffer->LoopCount != 0 && buffer->LoopCounter < 0) return;
  wave.SetPosition(0);
  if (OnLooping) OnLooping(this);
  moreBuffers = true;
  buffer->LoopRestarted = -1;
}

}  // namespace tv
