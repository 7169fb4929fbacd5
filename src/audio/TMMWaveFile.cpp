#include "TMMWaveFile.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>

#include "MMErrors.h"

namespace tv {

namespace {

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
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

void TMMWaveFile::WaveChanged() {
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
  if (Writer()) {
    SetPWaveFormat(Input()->PWaveFormat());
    const WAVEFORMATEX* f = PWaveFormat();
    const std::string name = wave.FileName();
    if (f != nullptr && !name.empty()) {
      if (OverwriteExisting() || wave.Empty()) {
        wave.CreateFile(name, f);
      } else {
        // Samples of another layout would turn the existing file to noise.
        if (!SameWaveFormat(wave.PWaveFormat(), f)) {
          throw EMMWaveError(LoadResString(SAppendFormatMismatch));
        }
        wave.OpenFile();
        wave.SeekToEnd();
      }
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
  const bool writer = Writer();
  if (writer && wave.Empty()) {
    const uint8_t zeros[4] = {0, 0, 0, 0};
    (void)wave.WriteData(zeros, 4);  // a failure shows in CloseFile
  }
  const bool finished = wave.CloseFile() || !writer;
  FireSynchronized(OnClose);
  return finished;
}

void TMMWaveFile::Store(PWaveHdr buffer) {
  TMMWave& wave = Wave();
  const int64_t need = int64_t{wave.IOBufferSize()} + buffer->dwBytesRecorded + 10240;
  const int32_t bytes = static_cast<int32_t>(buffer->dwBytesRecorded);
  // A full disk ends the recording, as a recorder is expected to: not an
  // error, and what reached the disk stays a valid file.
  if (DiskFree(FolderOfFile(wave.FileName())) < need ||
      wave.WriteData(buffer->lpData, bytes) != bytes) {
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
