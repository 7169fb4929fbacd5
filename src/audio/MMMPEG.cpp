#include "MMMPEG.h"

#include <dlfcn.h>
#include <mpg123.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

namespace tv {

namespace {

// The header renames some functions (mpg123_info is mpg123_info2): the
// symbol to look up is the name the macro expands to.
#define TV_MPG_STR2(x) #x
#define TV_MPG_STR(x) TV_MPG_STR2(x)

#define TV_MPG_FUNCS(X)                                                                        \
  X(mpg123_init) X(mpg123_new) X(mpg123_delete) X(mpg123_param) X(mpg123_format_none)         \
  X(mpg123_format) X(mpg123_rates) X(mpg123_open) X(mpg123_close) X(mpg123_getformat)         \
  X(mpg123_info) X(mpg123_tpf) X(mpg123_length) X(mpg123_scan) X(mpg123_read)                 \
  X(mpg123_seek_frame) X(mpg123_tellframe) X(mpg123_strerror) X(mpg123_plain_strerror)       \
  X(mpg123_id3)

struct MpegApi {
#define TV_MPG_MEMBER(f) decltype(&::f) f = nullptr;
  TV_MPG_FUNCS(TV_MPG_MEMBER)
#undef TV_MPG_MEMBER
};

struct MpegLibrary {
  std::mutex lock;
  std::string name = "libmpg123.so.0";
  bool tried = false;
  const MpegApi* api = nullptr;
  std::string error;
  // Every library ever bound stays loaded: instances keep their table.
  std::vector<std::unique_ptr<MpegApi>> bound;
};

MpegLibrary& Library() {
  static MpegLibrary lib;
  return lib;
}

const MpegApi* Api(std::string* error = nullptr) {
  MpegLibrary& lib = Library();
  std::lock_guard lock(lib.lock);
  if (!lib.tried) {
    lib.tried = true;
    lib.api = nullptr;
    lib.error.clear();
    void* handle = ::dlopen(lib.name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      lib.error = LoadResString(SUnableToLoad) + " " + lib.name;
    } else {
      auto api = std::make_unique<MpegApi>();
      bool complete = true;
#define TV_MPG_BIND(f)                                                          \
  api->f = reinterpret_cast<decltype(api->f)>(::dlsym(handle, TV_MPG_STR(f))); \
  complete = complete && api->f != nullptr;
      TV_MPG_FUNCS(TV_MPG_BIND)
#undef TV_MPG_BIND
      if (!complete) {
        ::dlclose(handle);
        lib.error = LoadResString(SInvalidMpegVersion);
      } else {
        api->mpg123_init();
        lib.api = api.get();
        lib.bound.push_back(std::move(api));
      }
    }
  }
  if (error != nullptr) *error = lib.error;
  return lib.api;
}

const MpegApi& RequireApi() {
  std::string error;
  const MpegApi* api = Api(&error);
  if (api == nullptr) throw EMMMpegError(error);
  return *api;
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// Non-MPEG bytes that may come before the first frame (tags of other
// kinds, a damaged start) are skipped up to this many.
constexpr long kResyncLimit = 1 << 20;

constexpr std::array<const char*, 126> kGenres = {
    "Blues", "Classic Rock", "Country", "Dance", "Disco", "Funk", "Grunge", "Hip-Hop", "Jazz",
    "Metal", "New Age", "Oldies", "Other", "Pop", "R&B", "Rap", "Reggae", "Rock", "Techno",
    "Industrial", "Alternative", "Ska", "Death Metal", "Pranks", "Soundtrack", "Euro-Techno",
    "Ambient", "Trip-Hop", "Vocal", "Jazz+Funk", "Fusion", "Trance", "Classical", "Instrumental",
    "Acid", "House", "Game", "Sound Clip", "Gospel", "Noise", "AlternRock", "Bass", "Soul",
    "Punk", "Space", "Meditative", "Instrumental Pop", "Instrumental Rock", "Ethnic", "Gothic",
    "Darkwave", "Techno-Industrial", "Electronic", "Pop-Folk", "Eurodance", "Dream",
    "Southern Rock", "Comedy", "Cult", "Gangsta", "Top 40", "Christian Rap", "Pop/Funk", "Jungle",
    "Native American", "Cabaret", "New Wave", "Psychadelic", "Rave", "Showtunes", "Trailer",
    "Lo-Fi", "Tribal", "Acid Punk", "Acid Jazz", "Polka", "Retro", "Musical", "Rock & Roll",
    "Hard Rock", "Folk", "Folk-Rock", "National Folk", "Swing", "Fast Fusion", "Bebob", "Latin",
    "Revival", "Celtic", "Bluegrass", "Avantgarde", "Gothic Rock", "Progressive Rock",
    "Psychedelic Rock", "Symphonic Rock", "Slow Rock", "Big Band", "Chorus", "Easy Listening",
    "Acoustic", "Humour", "Speech", "Chanson", "Opera", "Chamber Music", "Sonata", "Symphony",
    "Booty Bass", "Primus", "Porn Groove", "Satire", "Slow Jam", "Club", "Tango", "Samba",
    "Folklore", "Ballad", "Power Ballad", "Rhythmic Soul", "Freestyle", "Duet", "Punk Rock",
    "Drum Solo", "A capella", "Euro-House", "Dance Hall"};

std::string Trimmed(const char* text, size_t most) {
  std::string s(text, strnlen(text, most));
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  size_t start = 0;
  while (start < s.size() && s[start] == ' ') ++start;
  return s.substr(start);
}

std::string Trimmed(const mpg123_string* s, size_t most) {
  if (s == nullptr || s->p == nullptr || s->fill == 0) return {};
  return Trimmed(s->p, std::min(most, s->fill));
}

// A handle closed whatever happens.
struct Handle {
  const MpegApi& api;
  mpg123_handle* h = nullptr;
  explicit Handle(const MpegApi& a) : api(a) {
    int err = MPG123_OK;
    h = api.mpg123_new(nullptr, &err);
    if (h == nullptr) throw EMMMpegError(api.mpg123_plain_strerror(err));
  }
  ~Handle() {
    if (h != nullptr) {
      api.mpg123_close(h);
      api.mpg123_delete(h);
    }
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
};

}  // namespace

std::string MpegLibraryName() {
  MpegLibrary& lib = Library();
  std::lock_guard lock(lib.lock);
  return lib.name;
}

void SetMpegLibraryName(const std::string& name) {
  MpegLibrary& lib = Library();
  std::lock_guard lock(lib.lock);
  if (name == lib.name && lib.tried) return;
  lib.name = name;
  lib.tried = false;
}

bool MpegDecoderAvailable() { return Api() != nullptr; }

std::string MpegLoadError() {
  std::string error;
  Api(&error);
  return error;
}

// ---------------------------------------------------------------------------
// TMMMpeg

TMMMpeg::TMMMpeg() { RequireApi(); }

TMMMpeg::~TMMMpeg() { CloseFile(); }

void TMMMpeg::Configure(void* handle) const {
  const MpegApi& api = RequireApi();
  auto* h = static_cast<mpg123_handle*>(handle);
  api.mpg123_param(h, MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
  api.mpg123_param(h, MPG123_RESYNC_LIMIT, kResyncLimit, 0.0);
  if (channelMode_ != cmBoth) {
    const long mono = channelMode_ == cmLeft    ? MPG123_MONO_LEFT
                      : channelMode_ == cmRight ? MPG123_MONO_RIGHT
                                                : MPG123_MONO_MIX;
    api.mpg123_param(h, MPG123_ADD_FLAGS, mono, 0.0);
  }
  // 16-bit output at the stream's own rate, whatever the library prefers.
  api.mpg123_format_none(h);
  const long* rates = nullptr;
  size_t count = 0;
  api.mpg123_rates(&rates, &count);
  for (size_t i = 0; i < count; ++i) {
    api.mpg123_format(h, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
  }
}

void TMMMpeg::Refresh(void* handle) {
  const MpegApi& api = RequireApi();
  auto* h = static_cast<mpg123_handle*>(handle);
  info_ = TMpegInfo{};
  format_.reset();
  empty_ = true;
  long rate = 0;
  int channels = 0, encoding = 0;
  if (api.mpg123_getformat(h, &rate, &channels, &encoding) != MPG123_OK || rate <= 0 ||
      channels <= 0) {
    return;
  }
  mpg123_frameinfo fi{};
  if (api.mpg123_info(h, &fi) == MPG123_OK) {
    info_.Version = fi.version == MPG123_1_0 ? v1 : v2LSF;
    info_.Layer = fi.layer;
    info_.BitRate = fi.bitrate;
    switch (fi.mode) {
      case MPG123_M_JOINT: info_.Mode = smJointStereo; break;
      case MPG123_M_DUAL: info_.Mode = smDualChannel; break;
      case MPG123_M_MONO: info_.Mode = smSingleChannel; break;
      default: info_.Mode = smStereo; break;
    }
  }
  info_.SampleRate = static_cast<int32_t>(rate);
  info_.Channels = channels;
  const double tpf = api.mpg123_tpf(h);
  info_.FrameMs = tpf > 0 ? tpf * 1000.0 : 0;
  const off_t samples = api.mpg123_length(h);
  if (samples > 0) {
    info_.TimeMs = static_cast<int64_t>(samples) * 1000 / rate;
    const double perFrame = tpf * static_cast<double>(rate);
    if (perFrame > 0) info_.Frames = static_cast<int64_t>(std::ceil(static_cast<double>(samples) / perFrame));
  }
  format_ = MakePcmFormat(16, channels, static_cast<int>(rate));
  empty_ = false;
}

void TMMMpeg::SetFileName(const std::string& name) {
  CloseFile();
  fileName_.clear();
  info_ = TMpegInfo{};
  format_.reset();
  empty_ = true;
  if (!name.empty()) {
    const MpegApi& api = RequireApi();
    Handle h(api);
    Configure(h.h);
    if (api.mpg123_open(h.h, name.c_str()) != MPG123_OK) {
      throw EMMMpegError(api.mpg123_strerror(h.h));
    }
    Refresh(h.h);
    fileName_ = name;
  }
  if (OnFileChanged) OnFileChanged();
}

void TMMMpeg::SetChannelMode(TChannelMode value) {
  if (value == channelMode_) return;
  if (open_) throw EMMMpegError(LoadResString(SPropertyWhileOpen));
  channelMode_ = value;
  // The decoded format follows the mode.
  if (!fileName_.empty()) SetFileName(std::string(fileName_));
}

void TMMMpeg::OpenFile() {
  if (open_ || empty_) return;
  const MpegApi& api = RequireApi();
  int err = MPG123_OK;
  mpg123_handle* h = api.mpg123_new(nullptr, &err);
  if (h == nullptr) throw EMMMpegError(api.mpg123_plain_strerror(err));
  Configure(h);
  if (api.mpg123_open(h, fileName_.c_str()) != MPG123_OK) {
    const std::string text = api.mpg123_strerror(h);
    api.mpg123_delete(h);
    throw EMMMpegError(text);
  }
  long rate = 0;
  int channels = 0, encoding = 0;
  if (api.mpg123_getformat(h, &rate, &channels, &encoding) != MPG123_OK) {
    const std::string text = api.mpg123_strerror(h);
    api.mpg123_close(h);
    api.mpg123_delete(h);
    throw EMMMpegError(text);
  }
  handle_ = h;
  open_ = true;
  done_ = false;
}

void TMMMpeg::CloseFile() {
  if (handle_ != nullptr) {
    const MpegApi& api = RequireApi();
    auto* h = static_cast<mpg123_handle*>(handle_);
    api.mpg123_close(h);
    api.mpg123_delete(h);
    handle_ = nullptr;
  }
  open_ = false;
  done_ = false;
}

void TMMMpeg::ResetFile() { SetPosition(0); }

int32_t TMMMpeg::ReadDataBytes(void* buffer, int32_t bytes) {
  if (!open_ || handle_ == nullptr || bytes <= 0 || done_) return 0;
  const MpegApi& api = RequireApi();
  auto* h = static_cast<mpg123_handle*>(handle_);
  auto* out = static_cast<unsigned char*>(buffer);
  const size_t frame = format_ ? format_->nBlockAlign : 1;
  const size_t want = static_cast<size_t>(bytes) - static_cast<size_t>(bytes) % std::max<size_t>(frame, 1);
  size_t total = 0;
  int idle = 0;
  while (total < want) {
    size_t done = 0;
    const int r = api.mpg123_read(h, out + total, want - total, &done);
    // The last bytes come together with the end code.
    total += done;
    if (r == MPG123_DONE) {
      done_ = true;
      break;
    }
    if (r == MPG123_NEW_FORMAT) continue;
    if (r != MPG123_OK) throw EMMMpegError(api.mpg123_strerror(h));
    if (done == 0 && ++idle > 16) break;
  }
  return static_cast<int32_t>(total);
}

int64_t TMMMpeg::Position() const {
  if (!open_ || handle_ == nullptr) return 0;
  const off_t frame = RequireApi().mpg123_tellframe(static_cast<mpg123_handle*>(handle_));
  return frame < 0 ? 0 : static_cast<int64_t>(frame);
}

void TMMMpeg::SetPosition(int64_t frame) {
  if (!open_ || handle_ == nullptr) return;
  const MpegApi& api = RequireApi();
  // Seeking past the end would "succeed" somewhere undefined.
  int64_t target = std::max<int64_t>(frame, 0);
  if (info_.Frames > 0) target = std::min(target, info_.Frames);
  if (api.mpg123_seek_frame(static_cast<mpg123_handle*>(handle_), static_cast<off_t>(target), SEEK_SET) < 0) {
    throw EMMMpegError(std::string(api.mpg123_strerror(static_cast<mpg123_handle*>(handle_))) + ": " +
                       std::to_string(frame));
  }
  done_ = false;
}

bool TMMMpeg::Scan() {
  if (fileName_.empty()) return false;
  const MpegApi& api = RequireApi();
  Handle h(api);
  Configure(h.h);
  if (api.mpg123_open(h.h, fileName_.c_str()) != MPG123_OK) return false;
  if (api.mpg123_scan(h.h) != MPG123_OK) return false;
  Refresh(h.h);
  return true;
}

void TMMMpeg::ReadTags(TMMFileInfo& info) {
  if (fileName_.empty()) return;
  const MpegApi& api = RequireApi();
  Handle h(api);
  Configure(h.h);
  if (api.mpg123_open(h.h, fileName_.c_str()) != MPG123_OK) return;
  long rate = 0;
  int channels = 0, encoding = 0;
  api.mpg123_getformat(h.h, &rate, &channels, &encoding);
  mpg123_id3v1* v1 = nullptr;
  mpg123_id3v2* v2 = nullptr;
  if (api.mpg123_id3(h.h, &v1, &v2) != MPG123_OK) return;
  if (v2 != nullptr) {
    info.Title = Trimmed(v2->title, 30);
    info.Artist = Trimmed(v2->artist, 30);
    info.Album = Trimmed(v2->album, 30);
    info.Year = Trimmed(v2->year, 4);
    info.Comment = Trimmed(v2->comment, 28);
  }
  if (v1 != nullptr) {
    if (info.Title.empty()) info.Title = Trimmed(v1->title, 30);
    if (info.Artist.empty()) info.Artist = Trimmed(v1->artist, 30);
    if (info.Album.empty()) info.Album = Trimmed(v1->album, 30);
    if (info.Year.empty()) info.Year = Trimmed(v1->year, 4);
    if (info.Comment.empty()) info.Comment = Trimmed(v1->comment, 28);
    if (v1->genre < kGenres.size()) info.Genre = kGenres[v1->genre];
  }
}

// ---------------------------------------------------------------------------
// TMMMPEGFile

TMMMPEGFile::TMMMPEGFile(std::string name)
    : TMMCustomFile(std::move(name)), mpeg_(std::make_unique<TMMMpeg>()) {
  mpeg_->OnFileChanged = [this] { Changed(); };
}

TMMMPEGFile::~TMMMPEGFile() {
  try {
    Close();
  } catch (const std::exception&) {
  }
  Unlink();
}

void TMMMPEGFile::Changed() {
  SetPWaveFormat(mpeg_->PcmFormat());
  if (OnChange) OnChange(this);
}

bool TMMMPEGFile::CanOpenMpegFile(const std::string& name) {
  if (name.empty()) return false;
  const std::string ext = std::filesystem::path(name).extension().string();
  if (!ext.empty() && Upper(kExtensions).find(Upper(ext)) == std::string::npos) return false;
  if (!MpegDecoderAvailable()) return false;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(name, ec)) return false;
  {
    std::ifstream in(name, std::ios::binary);
    char head[12] = {};
    in.read(head, sizeof head);
    if (in.gcount() == 12 && std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WAVE", 4) == 0) {
      WaveFileInfo wave;
      if (ScanWaveFile(name, wave) != wrOk || !wave.Format) return false;
      const uint16_t tag = wave.Format->wFormatTag;
      return tag == 80 || tag == 85;
    }
  }
  try {
    TMMMpeg probe;
    probe.SetFileName(name);
    return !probe.Empty();
  } catch (const EMMError&) {
    return false;
  }
}

bool TMMMPEGFile::GetMpegFileInfo(const std::string& name, bool scan, TMMFileInfo& info) {
  if (!CanOpenMpegFile(name)) return false;
  try {
    TMMMpeg mpeg;
    mpeg.SetFileName(name);
    if (mpeg.Empty()) return false;
    std::error_code ec;
    const std::filesystem::path scn = std::filesystem::path(name).replace_extension(".scn");
    if (scan && mpeg.Info().BitRate == 0 && !std::filesystem::exists(scn, ec)) mpeg.Scan();
    info = TMMFileInfo{};
    info.FileType = ftMpeg;
    info.Length = mpeg.Info().TimeMs;
    info.FileName = std::filesystem::path(name).filename().string();
    info.SampleRate = mpeg.Info().SampleRate;
    info.Channels = mpeg.Info().Channels;
    info.BitsPerSample = 16;
    info.BitRate = mpeg.Info().BitRate * 1000;
    mpeg.ReadTags(info);
    return true;
  } catch (const EMMError&) {
    return false;
  }
}

bool TMMMPEGFile::GetFileInfo(const std::string& name, TMMFileInfo& info) const {
  return GetMpegFileInfo(name, false, info);
}

int32_t TMMMPEGFile::BlockAlign() const {
  const WAVEFORMATEX* f = mpeg_->PcmFormat();
  return f ? f->nBlockAlign : 0;
}

void TMMMPEGFile::SetFileName(const std::string& value) {
  mpeg_->CloseFile();
  fileOpen_.store(false);
  mpeg_->SetFileName(value);
}

void TMMMPEGFile::SetPosition(int64_t value) { mpeg_->SetPosition(value); }

int64_t TMMMPEGFile::PositionMs() const {
  return static_cast<int64_t>(std::llround(static_cast<double>(mpeg_->Position()) * mpeg_->Info().FrameMs));
}

void TMMMPEGFile::SetPositionMs(int64_t value) {
  const double frameMs = mpeg_->Info().FrameMs;
  if (frameMs <= 0) return;
  mpeg_->SetPosition(std::llround(static_cast<double>(value) / frameMs));
}

void TMMMPEGFile::SetChannelMode(TChannelMode value) {
  if (fileOpen_.load()) throw EMMMpegError(LoadResString(SPropertyWhileOpen));
  mpeg_->SetChannelMode(value);
}

void TMMMPEGFile::Open() {
  TMMCustomFile::Open();
  if (!mpeg_->Empty() && !fileOpen_.load()) {
    mpeg_->OpenFile();
    startPosition_ = mpeg_->Position();
    fileOpen_.store(true);
  }
}

void TMMMPEGFile::Start() {
  TMMCustomFile::Start();
  if (fileOpen_.load() && !started_.exchange(true) && startPosition_ != mpeg_->Position()) {
    mpeg_->SetPosition(startPosition_);
  }
}

void TMMMPEGFile::Stop() {
  started_.store(false);
  TMMCustomFile::Stop();
}

void TMMMPEGFile::Close() {
  Stop();
  if (fileOpen_.exchange(false)) mpeg_->CloseFile();
  TMMCustomFile::Close();
}

void TMMMPEGFile::BufferLoad(PWaveHdr buffer, bool& moreBuffers) {
  if (mpeg_->Empty()) {
    buffer->dwBytesRecorded = 0;
    return;
  }
  if (!started_.load() || !Enabled()) {
    std::memset(buffer->lpData, 0, buffer->dwBufferLength);
    buffer->dwBytesRecorded = buffer->dwBufferLength;
    moreBuffers = true;
    return;
  }
  try {
    const int32_t want = static_cast<int32_t>(std::min<uint32_t>(buffer->dwBufferLength, INT32_MAX));
    const int32_t got = mpeg_->ReadDataBytes(buffer->lpData, want);
    buffer->dwBytesRecorded = static_cast<uint32_t>(std::max(got, 0));
    if (got <= 0) {
      moreBuffers = false;
      return;
    }
    if (!mpeg_->Done()) {
      moreBuffers = true;
      return;
    }
    if (buffer->LoopEnabled == 0) return;
    if (buffer->LoopCount > 0) --buffer->LoopCounter;
    if (buffer->LoopCount != 0 && buffer->LoopCounter < 0) return;
    mpeg_->ResetFile();
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

TMMAudioFileReader MpegFileReader() {
  TMMAudioFileReader r;
  r.ClassName = "TMMMPEGFile";
  r.Order = 1;
  r.FileType = ftMpeg;
  r.Masks = TMMMPEGFile::kExtensions;
  r.FileFilter = TMMMPEGFile::kFileFilter;
  r.CanOpenFile = [](const std::string& name) { return TMMMPEGFile::CanOpenMpegFile(name); };
  r.Create = [] { return std::make_unique<TMMMPEGFile>(); };
  return r;
}

}  // namespace tv
