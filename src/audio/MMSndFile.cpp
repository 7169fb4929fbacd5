#include "MMSndFile.h"

#include <sndfile.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>

namespace tv {

namespace {

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

bool KnownExtension(const std::string& name) {
  const std::string ext = std::filesystem::path(name).extension().string();
  return ext.size() > 1 && (Upper(TMMSndFile::kExtensions) + ";").find("*" + Upper(ext) + ";") != std::string::npos;
}

// Channels beyond two are left out of the decoded stream.
int OutChannels(int channels) { return std::min(channels, 2); }

}  // namespace

struct TMMSndFile::File {
  SNDFILE* sf = nullptr;
  SF_INFO info{};
  std::vector<int16_t> frames;  // one read of all the file's channels
  ~File() {
    if (sf != nullptr) sf_close(sf);
  }
};

TMMSndFile::TMMSndFile(std::string name) : TMMCustomFile(std::move(name)) {}

TMMSndFile::~TMMSndFile() {
  try {
    Close();
  } catch (const std::exception&) {
  }
  Unlink();
}

bool TMMSndFile::CanOpenSndFile(const std::string& name) {
  if (name.empty() || !KnownExtension(name)) return false;
  SF_INFO info{};
  SNDFILE* sf = sf_open(name.c_str(), SFM_READ, &info);
  if (sf == nullptr) return false;
  sf_close(sf);
  return info.frames > 0 && info.channels > 0 && info.samplerate > 0;
}

bool TMMSndFile::GetFileInfo(const std::string& name, TMMFileInfo& out) const {
  if (!CanOpenSndFile(name)) return false;
  SF_INFO info{};
  SNDFILE* sf = sf_open(name.c_str(), SFM_READ, &info);
  if (sf == nullptr) return false;
  out = TMMFileInfo{};
  out.FileType = ftVorbis;
  out.Length = info.samplerate > 0 ? info.frames * 1000 / info.samplerate : 0;
  out.FileName = std::filesystem::path(name).filename().string();
  out.SampleRate = info.samplerate;
  out.Channels = OutChannels(info.channels);
  out.BitsPerSample = 16;
  auto text = [sf](int id) {
    const char* s = sf_get_string(sf, id);
    return s != nullptr ? std::string(s) : std::string();
  };
  out.Title = text(SF_STR_TITLE);
  out.Artist = text(SF_STR_ARTIST);
  out.Album = text(SF_STR_ALBUM);
  out.Year = text(SF_STR_DATE).substr(0, 4);
  out.Comment = text(SF_STR_COMMENT);
  out.Genre = text(SF_STR_GENRE);
  sf_close(sf);
  return true;
}

int32_t TMMSndFile::BlockAlign() const { return 2 * OutChannels(channels_); }

int64_t TMMSndFile::Time() const { return rate_ > 0 ? frames_ * 1000 / rate_ : 0; }

void TMMSndFile::SetFileName(const std::string& value) {
  Close();
  fileName_.clear();
  frames_ = 0;
  rate_ = 0;
  channels_ = 0;
  position_.store(0);
  if (!value.empty()) {
    SF_INFO info{};
    SNDFILE* sf = sf_open(value.c_str(), SFM_READ, &info);
    if (sf == nullptr) throw EMMSndFileError(sf_strerror(nullptr));
    sf_close(sf);
    if (info.channels <= 0 || info.samplerate <= 0) throw EMMSndFileError(LoadResString(SNotValidAudioFile));
    fileName_ = value;
    frames_ = info.frames;
    rate_ = info.samplerate;
    channels_ = info.channels;
  }
  WaveFormatPtr f;
  if (channels_ > 0) f = MakePcmFormat(16, OutChannels(channels_), rate_);
  SetPWaveFormat(f.get());
  if (OnChange) OnChange(this);
}

void TMMSndFile::SetPosition(int64_t value) {
  const int64_t target = std::clamp<int64_t>(value, 0, frames_);
  if (file_ && sf_seek(file_->sf, target, SEEK_SET) < 0) {
    throw EMMSndFileError(LoadResString(SErrorSeekingPosition));
  }
  position_.store(target);
}

int64_t TMMSndFile::PositionMs() const { return rate_ > 0 ? position_.load() * 1000 / rate_ : 0; }

void TMMSndFile::SetPositionMs(int64_t value) {
  if (rate_ > 0) SetPosition(value * rate_ / 1000);
}

void TMMSndFile::Open() {
  TMMCustomFile::Open();
  if (file_ || fileName_.empty()) return;
  auto file = std::make_unique<File>();
  file->sf = sf_open(fileName_.c_str(), SFM_READ, &file->info);
  if (file->sf == nullptr) throw EMMSndFileError(sf_strerror(nullptr));
  // Floating-point sources are limited rather than wrapped.
  sf_command(file->sf, SFC_SET_CLIPPING, nullptr, SF_TRUE);
  file_ = std::move(file);
  if (position_.load() != 0) SetPosition(position_.load());
}

void TMMSndFile::Start() {
  TMMCustomFile::Start();
  started_.store(file_ != nullptr);
}

void TMMSndFile::Stop() {
  started_.store(false);
  TMMCustomFile::Stop();
}

void TMMSndFile::Close() {
  Stop();
  file_.reset();
  TMMCustomFile::Close();
}

void TMMSndFile::BufferLoad(PWaveHdr buffer, bool& moreBuffers) {
  if (Empty()) {
    buffer->dwBytesRecorded = 0;
    return;
  }
  if (!started_.load() || !Enabled() || !file_) {
    std::memset(buffer->lpData, 0, buffer->dwBufferLength);
    buffer->dwBytesRecorded = buffer->dwBufferLength;
    moreBuffers = true;
    return;
  }
  const int out = OutChannels(channels_);
  const int in = file_->info.channels;
  const sf_count_t want = buffer->dwBufferLength / (2 * out);
  try {
    if (file_->frames.size() < static_cast<size_t>(want * in)) file_->frames.resize(static_cast<size_t>(want * in));
    const sf_count_t got = sf_readf_short(file_->sf, file_->frames.data(), want);
    if (got < 0 || sf_error(file_->sf) != SF_ERR_NO_ERROR) throw EMMSndFileError(sf_strerror(file_->sf));
    auto* dst = reinterpret_cast<int16_t*>(buffer->lpData);
    for (sf_count_t f = 0; f < got; ++f) {
      for (int c = 0; c < out; ++c) dst[f * out + c] = file_->frames[static_cast<size_t>(f * in + c)];
    }
    buffer->dwBytesRecorded = static_cast<uint32_t>(got * 2 * out);
    position_.fetch_add(got);
    if (got <= 0) {
      moreBuffers = false;
      return;
    }
    if (got == want && position_.load() < frames_) {
      moreBuffers = true;
      return;
    }
    if (buffer->LoopEnabled == 0) return;
    if (buffer->LoopCount > 0) --buffer->LoopCounter;
    if (buffer->LoopCount != 0 && buffer->LoopCounter < 0) return;
    SetPosition(0);
    moreBuffers = true;
    buffer->LoopRestarted = -1;
  } catch (const EMMError&) {
    bool handled = false;
    if (OnError) OnError(this, handled);
    if (!handled) throw;
    buffer->dwBytesRecorded = std::min<uint32_t>(4, buffer->dwBufferLength);
    std::memset(buffer->lpData, 0, buffer->dwBytesRecorded);
  }
}

TMMAudioFileReader SndFileReader() {
  TMMAudioFileReader r;
  r.ClassName = "TMMSndFile";
  r.Order = 6;
  r.FileType = ftVorbis;
  r.Masks = TMMSndFile::kExtensions;
  r.FileFilter = TMMSndFile::kFileFilter;
  r.CanOpenFile = [](const std::string& name) { return TMMSndFile::CanOpenSndFile(name); };
  r.Create = [] { return std::make_unique<TMMSndFile>(); };
  return r;
}

}  // namespace tv
