#include "TMMAudioFile.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>

#include "MMACMCvt.h"
#include "MMMPEG.h"
#include "MMSndFile.h"

namespace tv {

namespace {

struct ReaderRegister {
  std::mutex lock;
  std::vector<TMMAudioFileReader> readers;
  TMMAudioDecoderFactory decoders;
};

TMMAudioFileReader WaveReader() {
  TMMAudioFileReader r;
  r.ClassName = "TMMWaveFile";
  r.Order = 5;
  r.FileType = ftWave;
  r.Masks = "*.wav";
  r.FileFilter = LoadResString(SWaveFileFilter);
  r.CanOpenFile = [](const std::string& name) { return TMMCustomWaveFile::CanOpenWaveFile(name); };
  r.Create = [] { return std::make_unique<TMMWaveFile>(); };
  return r;
}

ReaderRegister& Register() {
  static ReaderRegister reg;
  static std::once_flag once;
  std::call_once(once, [] {
    // The readers of the program's start-up, in their order: MPEG, wave,
    // FLAC/Ogg; streams that are not 8/16-bit PCM go through the codec service.
    reg.readers = {MpegFileReader(), WaveReader(), SndFileReader()};
    reg.decoders = [](const WAVEFORMATEX* source) { return CreateCodecDecoder(source); };
  });
  return reg;
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// Stands in the decoding slot when the stream is PCM already.
class TMMAudioPassStage : public TMMDSPComponent {
 public:
  using TMMDSPComponent::TMMDSPComponent;
  ~TMMAudioPassStage() override { Unlink(); }
  std::span<const LinkProperty> LinkProperties() const override { return kPublishInputOutput; }
};

// The PCM stage: passes PCM through, scaled when the owner's volume or
// panning asks for it.
class TMMAudioPCMStage : public TMMDSPComponent {
 public:
  explicit TMMAudioPCMStage(const TMMAudioFile* owner) : TMMDSPComponent("PCM"), owner_(owner) {}
  ~TMMAudioPCMStage() override { Unlink(); }
  std::span<const LinkProperty> LinkProperties() const override { return kPublishInputOutput; }

  void BufferLoad(PWaveHdr buffer, bool& moreBuffers) override {
    TMMDSPComponent::BufferLoad(buffer, moreBuffers);
    const int32_t volume = owner_->Volume();
    const int32_t pan = owner_->Panning();
    if (volume == TMMAudioFile::kUnityVolume && pan == 0) return;
    const WAVEFORMATEX* f = PWaveFormat();
    if (f == nullptr || f->wFormatTag != WAVE_FORMAT_PCM || f->nBlockAlign == 0) return;
    const int channels = f->nChannels;
    const int64_t left = int64_t{volume} * (pan > 0 ? 16384 - pan : 16384) / 16384;
    const int64_t right = int64_t{volume} * (pan < 0 ? 16384 + pan : 16384) / 16384;
    auto gainOf = [&](int c) {
      if (channels < 2) return int64_t{volume};
      return c == 0 ? left : (c == 1 ? right : int64_t{volume});
    };
    auto* p = reinterpret_cast<uint8_t*>(buffer->lpData);
    const uint32_t bytes = buffer->dwBytesRecorded;
    if (f->wBitsPerSample == 8) {
      for (uint32_t i = 0; i < bytes; ++i) {
        const int64_t v = (int64_t{p[i]} - 128) * gainOf(static_cast<int>(i % channels)) / 16384;
        p[i] = static_cast<uint8_t>(std::clamp<int64_t>(v, -128, 127) + 128);
      }
    } else if (f->wBitsPerSample == 16) {
      for (uint32_t i = 0; i + 1 < bytes; i += 2) {
        int16_t s;
        std::memcpy(&s, p + i, 2);
        const int64_t v = int64_t{s} * gainOf(static_cast<int>((i / 2) % channels)) / 16384;
        s = static_cast<int16_t>(std::clamp<int64_t>(v, -32768, 32767));
        std::memcpy(p + i, &s, 2);
      }
    }
  }

 private:
  const TMMAudioFile* owner_;
};

}  // namespace

void RegisterAudioFileReader(TMMAudioFileReader reader) {
  ReaderRegister& r = Register();
  std::lock_guard lock(r.lock);
  std::erase_if(r.readers, [&](const TMMAudioFileReader& x) { return x.ClassName == reader.ClassName; });
  r.readers.push_back(std::move(reader));
  std::stable_sort(r.readers.begin(), r.readers.end(),
                   [](const TMMAudioFileReader& a, const TMMAudioFileReader& b) { return a.Order < b.Order; });
}

void UnregisterAudioFileReader(const std::string& className) {
  ReaderRegister& r = Register();
  std::lock_guard lock(r.lock);
  std::erase_if(r.readers, [&](const TMMAudioFileReader& x) { return x.ClassName == className; });
}

std::vector<TMMAudioFileReader> AudioFileReaders() {
  ReaderRegister& r = Register();
  std::lock_guard lock(r.lock);
  return r.readers;
}

std::string AudioFileFilter() {
  const std::vector<TMMAudioFileReader> readers = AudioFileReaders();
  if (readers.empty()) return {};
  if (readers.size() == 1) return readers.front().FileFilter;
  std::string masks;
  for (const TMMAudioFileReader& r : readers) {
    if (!masks.empty()) masks += ';';
    masks += r.Masks;
  }
  std::string text = "All Audio Files (" + masks + ")|" + masks;
  for (const TMMAudioFileReader& r : readers) text += "|" + r.FileFilter;
  return text;
}

void SetAudioFileDecoderFactory(TMMAudioDecoderFactory factory) {
  ReaderRegister& r = Register();
  std::lock_guard lock(r.lock);
  r.decoders = std::move(factory);
}

// ---------------------------------------------------------------------------
// TMMAudioFile

TMMAudioFile::TMMAudioFile(std::string name) : TMMDSPComponent(std::move(name)) {}

TMMAudioFile::~TMMAudioFile() {
  Release();
  Unlink();
}

void TMMAudioFile::SetEnabled(bool value) {
  enabled_.store(value);
  if (reader_) reader_->SetEnabled(value);
}

void TMMAudioFile::SetMpegTrailingHeader(int32_t value) {
  trailingHeader_ = value;
  if (reader_) reader_->SetTrailingHeader(value);
}

void TMMAudioFile::SetVolume(int32_t value) { volume_.store(std::clamp(value, 0, 4 * kUnityVolume)); }

void TMMAudioFile::SetPanning(int32_t value) { panning_.store(std::clamp(value, -16384, 16384)); }

int64_t TMMAudioFile::PositionMs() const { return reader_ ? reader_->PositionMs() : 0; }

void TMMAudioFile::SetPositionMs(int64_t value) {
  if (!reader_) return;
  reader_->SetPositionMs(value);
  endDelivered_.store(false);
}

void TMMAudioFile::Release() {
  if (!reader_) return;
  // Unlinking from the PCM stage's side clears this component's Input and
  // hands the absence of a format downstream.
  if (pcm_) pcm_->SetOutput(nullptr);
  pcm_.reset();
  decoder_.reset();
  reader_.reset();
  fileName_.clear();
  fileLength_ = 0;
}

void TMMAudioFile::SetFileName(const std::string& value) {
  if (value == fileName_) return;
  Release();
  if (value.empty()) return;
  const std::string upper = Upper(value);
  std::error_code ec;
  const bool candidate = std::filesystem::is_regular_file(value, ec) ||
                         upper.rfind("RESOURCE://", 0) == 0 || upper.rfind("POINTER://", 0) == 0;
  if (candidate) {
    const std::vector<TMMAudioFileReader> readers = AudioFileReaders();
    std::vector<const TMMAudioFileReader*> order;
    for (const TMMAudioFileReader& r : readers) {
      if (r.FileType == fileType_ && fileType_ != ftNone) order.push_back(&r);
    }
    for (const TMMAudioFileReader& r : readers) {
      if (std::find(order.begin(), order.end(), &r) == order.end()) order.push_back(&r);
    }
    for (const TMMAudioFileReader* r : order) {
      if (r->CanOpenFile && r->Create && r->CanOpenFile(value)) {
        Load(*r, value);
        return;
      }
    }
  }
  throw EMMAudioFileError(LoadResString(SNotValidAudioFile));
}

void TMMAudioFile::Load(const TMMAudioFileReader& reader, const std::string& name) {
  std::unique_ptr<TMMCustomFile> inner = reader.Create();
  inner->SetEnabled(enabled_.load());
  inner->SetTrailingHeader(trailingHeader_);
  inner->OnChange = [this](TMMDSPComponent*) {
    if (OnChange) OnChange(this);
  };
  if (OnFileLoading) OnFileLoading(this);
  inner->SetFileName(name);
  const WAVEFORMATEX* f = inner->PWaveFormat();
  std::unique_ptr<TMMDSPComponent> decoder;
  if (f != nullptr && (f->wFormatTag != WAVE_FORMAT_PCM ||
                       (f->wBitsPerSample != 8 && f->wBitsPerSample != 16))) {
    TMMAudioDecoderFactory factory;
    {
      ReaderRegister& r = Register();
      std::lock_guard lock(r.lock);
      factory = r.decoders;
    }
    if (factory) decoder = factory(f);
    // Undecodable data must not reach the chain as if it were samples.
    if (!decoder) throw EMMAudioFileError(LoadResString(SNotValidAudioFile));
  } else {
    decoder = std::make_unique<TMMAudioPassStage>("Decoder");
  }
  reader_ = std::move(inner);
  decoder_ = std::move(decoder);
  pcm_ = std::make_unique<TMMAudioPCMStage>(this);
  fileLength_ = reader_->Time();
  fileType_ = reader.FileType;
  fileName_ = name;
  endDelivered_.store(false);
  decoder_->SetInput(reader_.get());
  pcm_->SetInput(decoder_.get());
  SetInput(pcm_.get());
  if (OnFileLoaded) OnFileLoaded(this);
}

void TMMAudioFile::Open() {
  TMMDSPComponent::Open();
  endDelivered_.store(false);
}

void TMMAudioFile::BufferLoad(PWaveHdr buffer, bool& moreBuffers) {
  if (!reader_) {
    buffer->dwBytesRecorded = 0;
    return;
  }
  const uint8_t silence = SilenceByte(PWaveFormat());
  try {
    TMMDSPComponent::BufferLoad(buffer, moreBuffers);
  } catch (const EMMError&) {
    bool handled = false;
    if (OnError) OnError(this, handled);
    if (!handled) throw;
    const uint32_t n = std::min<uint32_t>(4, buffer->dwBufferLength);
    std::memset(buffer->lpData, silence, n);
    buffer->dwBytesRecorded = n;
    return;
  }
  if (buffer->dwBytesRecorded == 0 && !moreBuffers && !endDelivered_.exchange(true)) {
    const uint32_t n = std::min<uint32_t>(4, buffer->dwBufferLength);
    std::memset(buffer->lpData, silence, n);
    buffer->dwBytesRecorded = n;
  }
}

}  // namespace tv
