#include "TMMVirtualDevices.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#include "TMMWave.h"
#include "TMMDeviceStream.h"

namespace tv {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kTick = std::chrono::milliseconds(5);
// Frames moved per step; a late tick catches up in several steps.
constexpr uint32_t kChunkFrames = 4096;
constexpr size_t kMaxQueued = 4096;
constexpr int kMaxChannels = 8;

bool Same(const WAVEFORMATEX& a, const WAVEFORMATEX& b) {
  return a.wFormatTag == b.wFormatTag && a.nChannels == b.nChannels &&
         a.nSamplesPerSec == b.nSamplesPerSec && a.wBitsPerSample == b.wBitsPerSample &&
         a.nBlockAlign == b.nBlockAlign;
}

// Converts PCM frames between sample sizes, channel counts and rates.
// Frames are pulled from a source one at a time, already in the target's
// channel layout at 16-bit scale; rates are bridged by linear interpolation.
class PcmResampler {
 public:
  void Setup(const WAVEFORMATEX& src, const WAVEFORMATEX& dst) {
    srcChannels_ = std::clamp<int>(src.nChannels, 1, kMaxChannels);
    dstChannels_ = std::clamp<int>(dst.nChannels, 1, kMaxChannels);
    srcBits_ = src.wBitsPerSample;
    dstBits_ = dst.wBitsPerSample;
    step_ = static_cast<double>(src.nSamplesPerSec) / std::max<uint32_t>(dst.nSamplesPerSec, 1);
    frac_ = 0;
    primed_ = false;
    haveNext_ = false;
  }

  // One source frame (source bytes) in the target's channel layout.
  void Decode(const uint8_t* frame, int32_t* into) const {
    int32_t s[kMaxChannels];
    for (int c = 0; c < srcChannels_; ++c) {
      if (srcBits_ == 8) {
        s[c] = (static_cast<int32_t>(frame[c]) - 128) * 256;
      } else {
        int16_t v;
        std::memcpy(&v, frame + 2 * c, 2);
        s[c] = v;
      }
    }
    if (dstChannels_ == srcChannels_) {
      std::copy(s, s + srcChannels_, into);
    } else if (dstChannels_ == 1) {
      int64_t sum = 0;
      for (int c = 0; c < srcChannels_; ++c) sum += s[c];
      into[0] = static_cast<int32_t>(sum / srcChannels_);
    } else {
      for (int c = 0; c < dstChannels_; ++c) into[c] = s[c % srcChannels_];
    }
  }

  // Writes up to `maxFrames` target frames; stops early when `fetch`
  // (bool(int32_t* frame)) has nothing more. Answers the frames written.
  template <class Fetch>
  uint32_t Produce(uint8_t* out, uint32_t maxFrames, Fetch&& fetch) {
    if (!primed_) {
      if (!fetch(prev_)) return 0;
      primed_ = true;
    }
    uint32_t n = 0;
    while (n < maxFrames) {
      while (frac_ >= 1.0) {
        if (!haveNext_) {
          if (!fetch(next_)) return n;
          haveNext_ = true;
        }
        std::copy(next_, next_ + dstChannels_, prev_);
        haveNext_ = false;
        frac_ -= 1.0;
      }
      if (!haveNext_) {
        if (frac_ == 0.0) {
          // On a source frame exactly: no need to look ahead.
          Encode(prev_, out, n);
          frac_ += step_;
          ++n;
          continue;
        }
        if (!fetch(next_)) return n;
        haveNext_ = true;
      }
      int32_t v[kMaxChannels];
      for (int c = 0; c < dstChannels_; ++c) {
        v[c] = prev_[c] + static_cast<int32_t>((next_[c] - prev_[c]) * frac_);
      }
      Encode(v, out, n);
      frac_ += step_;
      ++n;
    }
    return n;
  }

 private:
  void Encode(const int32_t* v, uint8_t* out, uint32_t frame) const {
    if (dstBits_ == 8) {
      uint8_t* p = out + static_cast<size_t>(frame) * dstChannels_;
      for (int c = 0; c < dstChannels_; ++c) {
        p[c] = static_cast<uint8_t>(std::clamp(v[c] / 256 + 128, 0, 255));
      }
    } else {
      uint8_t* p = out + static_cast<size_t>(frame) * dstChannels_ * 2;
      for (int c = 0; c < dstChannels_; ++c) {
        const auto s = static_cast<int16_t>(std::clamp(v[c], -32768, 32767));
        std::memcpy(p + 2 * c, &s, 2);
      }
    }
  }

  int srcChannels_ = 1, dstChannels_ = 1;
  int srcBits_ = 16, dstBits_ = 16;
  double step_ = 1.0;
  double frac_ = 0.0;
  bool primed_ = false;
  bool haveNext_ = false;
  int32_t prev_[kMaxChannels] = {};
  int32_t next_[kMaxChannels] = {};
};

std::string BaseName(const std::string& file) {
  return std::filesystem::path(file).filename().string();
}

}  // namespace

// What the loopback output hands to the loopback input.
struct TMMVirtualDevices::Bus {
  std::mutex lock;
  TMMDeviceStream* input = nullptr;  // the open loopback input
  WAVEFORMATEX inputFormat{};
  bool outputOpen = false;
  WAVEFORMATEX outputFormat{};
  bool convert = false;
  PcmResampler resampler;
  std::vector<uint8_t> scratch;

  void Rebuild() {
    convert = input != nullptr && outputOpen && !Same(inputFormat, outputFormat);
    if (!convert) return;
    resampler.Setup(outputFormat, inputFormat);
    // Room for a chunk at the highest rate ratio the formats allow.
    const size_t frames = kChunkFrames * 26 + 16;
    scratch.assign(frames * std::max<uint16_t>(inputFormat.nBlockAlign, 1), 0);
  }

  void Feed(const uint8_t* data, uint32_t bytes) {
    std::lock_guard guard(lock);
    if (input == nullptr) return;
    if (!convert) {
      input->Capture(data, bytes);
      return;
    }
    const uint32_t align = std::max<uint16_t>(outputFormat.nBlockAlign, 1);
    const uint8_t* p = data;
    const uint8_t* end = data + bytes / align * align;
    const auto fetch = [&](int32_t* frame) {
      if (p >= end) return false;
      resampler.Decode(p, frame);
      p += align;
      return true;
    };
    const uint32_t outAlign = std::max<uint16_t>(inputFormat.nBlockAlign, 1);
    const auto maxFrames = static_cast<uint32_t>(scratch.size() / outAlign);
    for (;;) {
      const uint32_t n = resampler.Produce(scratch.data(), maxFrames, fetch);
      if (n > 0) input->Capture(scratch.data(), n * outAlign);
      if (n < maxFrames) break;
    }
  }
};

class TMMVirtualDevices::Device {
 public:
  Device(TMMVirtualDevices& owner, bool input, int kind, HWAVE handle, const WAVEFORMATEX& format,
         TMMWaveCallback callback, void* instance, const TMMVirtualFaults& faults)
      : Stream(input ? TMMDeviceStream::Direction::Capture : TMMDeviceStream::Direction::Playback,
               handle, format, callback, instance, kMaxQueued),
        Input(input),
        Kind(kind),
        Id(kind),
        owner_(owner),
        format_(format),
        faults_(faults),
        scratch_(static_cast<size_t>(kChunkFrames) * std::max<uint16_t>(format.nBlockAlign, 1)) {
    Stream.SetDeliveryDelay(std::chrono::milliseconds(std::max(faults.DeliverLateMs, 0)));
    Stream.SetPositionWrap(faults.PositionWrap);
  }
  ~Device() { StopClock(); }

  // Opens the line-in's file; false when it cannot be read.
  bool OpenLineIn(const std::string& file) {
    try {
      wave_ = std::make_unique<TMMWave>();
      wave_->SetFileName(file);
      const WAVEFORMATEX* f = wave_->PWaveFormat();
      if (f == nullptr || !PcmFormatSupported(f)) return false;
      fileFormat_ = *f;
      wave_->OpenFile();
      wave_->SetPosition(0);
      fileBuffer_.assign(16384 - 16384 % std::max<uint16_t>(f->nBlockAlign, 1), 0);
      resampler_.Setup(fileFormat_, format_);
      return true;
    } catch (const std::exception&) {
      wave_.reset();
      return false;
    }
  }

  void StartClock() {
    clock_ = std::thread([this] { ClockLoop(); });
  }

  void StopClock() {
    {
      std::lock_guard guard(clockLock_);
      quit_ = true;
    }
    clockWake_.notify_all();
    if (clock_.joinable()) clock_.join();
  }

  const TMMVirtualFaults& Faults() const { return faults_; }

  TMMDeviceStream Stream;
  const bool Input;
  const int Kind;
  const TMMDeviceId Id;

 private:
  // The next frame of the line-in file, looping at its end.
  bool FetchFileFrame(int32_t* frame) {
    const uint32_t align = std::max<uint16_t>(fileFormat_.nBlockAlign, 1);
    if (filePos_ + align > fileLength_) {
      fileLength_ = 0;
      filePos_ = 0;
      for (int attempt = 0; attempt < 2 && fileLength_ < align; ++attempt) {
        const int32_t got =
            wave_->ReadData(fileBuffer_.data(), static_cast<int32_t>(fileBuffer_.size()));
        if (got > 0) {
          fileLength_ = static_cast<uint32_t>(got) / align * align;
        } else {
          wave_->SetPosition(0);
        }
      }
      if (fileLength_ < align) {
        // A file without samples plays as silence.
        std::fill(frame, frame + kMaxChannels, 0);
        return true;
      }
    }
    resampler_.Decode(fileBuffer_.data() + filePos_, frame);
    filePos_ += align;
    return true;
  }

  void Produce(uint32_t frames) {
    const uint32_t align = std::max<uint16_t>(format_.nBlockAlign, 1);
    const auto bytes = frames * align;
    if (Input) {
      if (Kind == kLineIn && wave_) {
        const uint32_t n = resampler_.Produce(scratch_.data(), frames,
                                              [this](int32_t* f) { return FetchFileFrame(f); });
        Stream.Capture(scratch_.data(), n * align);
      } else {
        std::memset(scratch_.data(), SilenceByte(&format_), bytes);
        Stream.Capture(scratch_.data(), bytes);
      }
    } else {
      Stream.Render(scratch_.data(), bytes);
      if (Kind == kLoopbackOut) owner_.bus_->Feed(scratch_.data(), bytes);
    }
  }

  // The loopback input is fed by the loopback output while that is open.
  bool DrivenByOutput() {
    if (!Input || Kind != kLoopbackIn) return false;
    std::lock_guard guard(owner_.bus_->lock);
    return owner_.bus_->outputOpen;
  }

  void ClockLoop() {
    pthread_setname_np(pthread_self(), "tv-virtual");
    const Clock::time_point opened = Clock::now();
    Clock::time_point base = opened;
    uint64_t framesDone = 0;
    bool driven = false;
    bool vanished = false;
    const double rate = format_.nSamplesPerSec;
    std::unique_lock guard(clockLock_);
    while (!quit_) {
      clockWake_.wait_for(guard, kTick, [this] { return quit_; });
      if (quit_) break;
      guard.unlock();
      const Clock::time_point now = Clock::now();
      const auto sinceOpen =
          std::chrono::duration_cast<std::chrono::milliseconds>(now - opened).count();
      if (!vanished && faults_.VanishAfterMs >= 0 && sinceOpen >= faults_.VanishAfterMs) {
        vanished = true;
        Stream.Lost(MMSYSERR_DEVICELOST);
      }
      const bool stalled = faults_.StallAfterMs >= 0 && sinceOpen >= faults_.StallAfterMs;
      const bool nowDriven = DrivenByOutput();
      if (nowDriven != driven) {
        // Switching between our own clock and the output's: start afresh.
        driven = nowDriven;
        base = now;
        framesDone = 0;
      }
      if (!vanished && !stalled && !driven) {
        const double seconds = std::chrono::duration<double>(now - base).count();
        const auto due = static_cast<uint64_t>(seconds * rate * owner_.Speed());
        while (framesDone < due) {
          const auto n = static_cast<uint32_t>(std::min<uint64_t>(due - framesDone, kChunkFrames));
          Produce(n);
          framesDone += n;
        }
      }
      guard.lock();
    }
  }

  TMMVirtualDevices& owner_;
  const WAVEFORMATEX format_;
  const TMMVirtualFaults faults_;
  std::vector<uint8_t> scratch_;
  std::thread clock_;
  std::mutex clockLock_;
  std::condition_variable clockWake_;
  bool quit_ = false;
  // Line-in.
  std::unique_ptr<TMMWave> wave_;
  WAVEFORMATEX fileFormat_{};
  std::vector<uint8_t> fileBuffer_;
  uint32_t filePos_ = 0;
  uint32_t fileLength_ = 0;
  PcmResampler resampler_;
};

TMMVirtualDevices::TMMVirtualDevices() : bus_(std::make_unique<Bus>()) {}

TMMVirtualDevices::~TMMVirtualDevices() {
  std::vector<HWAVE> handles;
  {
    std::lock_guard guard(lock_);
    for (const auto& [h, d] : open_) handles.push_back(h);
  }
  for (HWAVE h : handles) CloseDevice(h);
}

void TMMVirtualDevices::SetLineInFile(const std::string& fileName) {
  if (!fileName.empty()) {
    // Fails with the wave file's own message when it cannot be read.
    TMMWave probe;
    probe.SetFileName(fileName);
    if (probe.PWaveFormat() == nullptr || !PcmFormatSupported(probe.PWaveFormat())) {
      throw EMMWaveError(LoadResString(SNotValidAudioFile));
    }
  }
  std::lock_guard guard(lock_);
  lineInFile_ = fileName;
}

std::string TMMVirtualDevices::LineInFile() const {
  std::lock_guard guard(lock_);
  return lineInFile_;
}

void TMMVirtualDevices::SetSpeed(double factor) { speed_.store(factor > 0 ? factor : 1.0); }

void TMMVirtualDevices::SetInputFaults(const TMMVirtualFaults& faults) {
  std::lock_guard guard(lock_);
  inFaults_ = faults;
}

void TMMVirtualDevices::SetOutputFaults(const TMMVirtualFaults& faults) {
  std::lock_guard guard(lock_);
  outFaults_ = faults;
}

uint32_t TMMVirtualDevices::waveInGetNumDevs() {
  std::lock_guard guard(lock_);
  return lineInFile_.empty() ? 2 : 3;
}

uint32_t TMMVirtualDevices::waveOutGetNumDevs() { return 2; }

MMRESULT TMMVirtualDevices::waveInGetDevCapsA(TMMDeviceId id, TMMWaveCaps& caps) {
  std::string file;
  {
    std::lock_guard guard(lock_);
    file = lineInFile_;
  }
  const bool mapper = id == MapperId;
  if (mapper) id = file.empty() ? kLoopbackIn : kLineIn;
  const auto count = static_cast<TMMDeviceId>(waveInGetNumDevs());
  if (id < 0 || id >= count) return MMSYSERR_BADDEVICEID;
  caps = TMMWaveCaps{};
  caps.DriverVersion = 0x0100;
  caps.Formats = WAVE_FORMAT_ALL;
  caps.Channels = 2;
  caps.DefaultSampleRate = 44100;
  switch (id) {
    case kLoopbackIn: caps.ProductName = "Virtual loopback"; break;
    case kSilenceIn: caps.ProductName = "Virtual silence"; break;
    default: {
      caps.ProductName = "Wave file as line-in: " + BaseName(file);
      try {
        TMMWave probe;
        probe.SetFileName(file);
        if (const WAVEFORMATEX* f = probe.PWaveFormat()) {
          caps.Channels = f->nChannels;
          caps.DefaultSampleRate = f->nSamplesPerSec;
        }
      } catch (const std::exception&) {
      }
      break;
    }
  }
  if (mapper) caps.ProductName = "Default device (" + caps.ProductName + ")";
  return MMSYSERR_NOERROR;
}

MMRESULT TMMVirtualDevices::waveOutGetDevCapsA(TMMDeviceId id, TMMWaveCaps& caps) {
  const bool mapper = id == MapperId;
  if (mapper) id = kLoopbackOut;
  if (id < 0 || id >= 2) return MMSYSERR_BADDEVICEID;
  caps = TMMWaveCaps{};
  caps.DriverVersion = 0x0100;
  caps.Formats = WAVE_FORMAT_ALL;
  caps.Channels = 2;
  caps.DefaultSampleRate = 44100;
  caps.ProductName = id == kLoopbackOut ? "Virtual loopback" : "Virtual null output";
  if (mapper) caps.ProductName = "Default device (" + caps.ProductName + ")";
  return MMSYSERR_NOERROR;
}

std::shared_ptr<TMMVirtualDevices::Device> TMMVirtualDevices::Find(HWAVE handle) {
  std::lock_guard guard(lock_);
  const auto it = open_.find(handle);
  return it == open_.end() ? nullptr : it->second;
}

MMRESULT TMMVirtualDevices::OpenDevice(bool input, HWAVE* handle, TMMDeviceId id,
                                       const WAVEFORMATEX* format, TMMWaveCallback callback,
                                       void* instance, uint32_t flags) {
  TMMVirtualFaults faults;
  std::string file;
  {
    std::lock_guard guard(lock_);
    faults = input ? inFaults_ : outFaults_;
    file = lineInFile_;
  }
  const auto count = static_cast<TMMDeviceId>(input ? waveInGetNumDevs() : waveOutGetNumDevs());
  if (id == MapperId) {
    id = input ? static_cast<TMMDeviceId>(file.empty() ? kLoopbackIn : kLineIn)
               : static_cast<TMMDeviceId>(kLoopbackOut);
  }
  if (id < 0 || id >= count) return MMSYSERR_BADDEVICEID;
  if (format == nullptr) return MMSYSERR_INVALPARAM;
  if (!PcmFormatSupported(format) || faults.RefuseFormats) return WAVERR_BADFORMAT;
  if (flags & WAVE_FORMAT_QUERY) return MMSYSERR_NOERROR;
  if (handle == nullptr) return MMSYSERR_INVALPARAM;
  if ((flags & CALLBACK_FUNCTION) != CALLBACK_FUNCTION || callback == nullptr) {
    return MMSYSERR_INVALFLAG;
  }
  if (faults.FailOpen) return MMSYSERR_ALLOCATED;
  if (input && id == kLoopbackIn) {
    std::lock_guard guard(bus_->lock);
    if (bus_->input != nullptr) return MMSYSERR_ALLOCATED;
  }
  if (!input && id == kLoopbackOut) {
    std::lock_guard guard(bus_->lock);
    if (bus_->outputOpen) return MMSYSERR_ALLOCATED;
  }

  const HWAVE h = NewWaveHandle();
  auto device = std::make_shared<Device>(*this, input, id, h, *format, callback, instance, faults);
  if (input && id == kLineIn && !device->OpenLineIn(file)) return MMSYSERR_NOTENABLED;
  {
    std::lock_guard guard(lock_);
    open_[h] = device;
  }
  if (input && id == kLoopbackIn) {
    std::lock_guard guard(bus_->lock);
    bus_->input = &device->Stream;
    bus_->inputFormat = *format;
    bus_->Rebuild();
  }
  if (!input && id == kLoopbackOut) {
    std::lock_guard guard(bus_->lock);
    bus_->outputOpen = true;
    bus_->outputFormat = *format;
    bus_->Rebuild();
  }
  *handle = h;
  device->StartClock();
  device->Stream.NotifyOpen(std::chrono::milliseconds(faults.OpenNotifyDelayMs));
  return MMSYSERR_NOERROR;
}

MMRESULT TMMVirtualDevices::CloseDevice(HWAVE handle) {
  std::shared_ptr<Device> device;
  {
    std::lock_guard guard(lock_);
    const auto it = open_.find(handle);
    if (it == open_.end()) return MMSYSERR_INVALHANDLE;
    device = it->second;
    open_.erase(it);
  }
  if (device->Input && device->Kind == kLoopbackIn) {
    std::lock_guard guard(bus_->lock);
    bus_->input = nullptr;
    bus_->Rebuild();
  }
  if (!device->Input && device->Kind == kLoopbackOut) {
    std::lock_guard guard(bus_->lock);
    bus_->outputOpen = false;
    bus_->Rebuild();
  }
  device->StopClock();
  if (!device->Stream.Shutdown(!device->Faults().NoCloseNotify)) {
    // Closing from inside the device's own callback: keep it registered.
    std::lock_guard guard(lock_);
    open_[handle] = device;
    return MMSYSERR_HANDLEBUSY;
  }
  return MMSYSERR_NOERROR;
}

MMRESULT TMMVirtualDevices::Position(HWAVE handle, TMMTime& time) {
  const auto d = Find(handle);
  if (!d) return MMSYSERR_INVALHANDLE;
  const uint32_t samples = d->Stream.Position();
  if (d->Faults().PositionInBytes) {
    time.wType = TIME_BYTES;
    time.value = samples * std::max<uint16_t>(d->Stream.Format().nBlockAlign, 1);
  } else {
    time.wType = TIME_SAMPLES;
    time.value = samples;
  }
  return MMSYSERR_NOERROR;
}

MMRESULT TMMVirtualDevices::GetStatistics(HWAVE handle, TMMDeviceStatistics& stats) {
  const auto d = Find(handle);
  if (!d) return MMSYSERR_INVALHANDLE;
  stats = d->Stream.Statistics();
  return MMSYSERR_NOERROR;
}

// ---------------------------------------------------------------------------
// Input

MMRESULT TMMVirtualDevices::waveInOpen(HWAVE* handle, TMMDeviceId id, const WAVEFORMATEX* format,
                                       TMMWaveCallback callback, void* instance, uint32_t flags) {
  return OpenDevice(true, handle, id, format, callback, instance, flags);
}

MMRESULT TMMVirtualDevices::waveInClose(HWAVE handle) { return CloseDevice(handle); }

MMRESULT TMMVirtualDevices::waveInPrepareHeader(HWAVE handle, PWaveHdr header, uint32_t) {
  const auto d = Find(handle);
  return d ? d->Stream.Prepare(header) : MMSYSERR_INVALHANDLE;
}

MMRESULT TMMVirtualDevices::waveInUnprepareHeader(HWAVE handle, PWaveHdr header, uint32_t) {
  const auto d = Find(handle);
  return d ? d->Stream.Unprepare(header) : MMSYSERR_INVALHANDLE;
}

MMRESULT TMMVirtualDevices::waveInAddBuffer(HWAVE handle, PWaveHdr header, uint32_t) {
  const auto d = Find(handle);
  return d ? d->Stream.Add(header) : MMSYSERR_INVALHANDLE;
}

MMRESULT TMMVirtualDevices::waveInStart(HWAVE handle) {
  const auto d = Find(handle);
  if (!d) return MMSYSERR_INVALHANDLE;
  d->Stream.SetRunning(true);
  return MMSYSERR_NOERROR;
}

MMRESULT TMMVirtualDevices::waveInStop(HWAVE handle) {
  const auto d = Find(handle);
  if (!d) return MMSYSERR_INVALHANDLE;
  d->Stream.ReturnPartial();
  return MMSYSERR_NOERROR;
}

MMRESULT TMMVirtualDevices::waveInReset(HWAVE handle) {
  const auto d = Find(handle);
  if (!d) return MMSYSERR_INVALHANDLE;
  d->Stream.Reset();
  return MMSYSERR_NOERROR;
}

MMRESULT TMMVirtualDevices::waveInGetPosition(HWAVE handle, TMMTime& time) {
  return Position(handle, time);
}

MMRESULT TMMVirtualDevices::waveInGetID(HWAVE handle, TMMDeviceId& id) {
  const auto d = Find(handle);
  if (!d) return MMSYSERR_INVALHANDLE;
  id = d->Id;
  return MMSYSERR_NOERROR;
}

// ---------------------------------------------------------------------------
// Output

MMRESULT TMMVirtualDevices::waveOutOpen(HWAVE* handle, TMMDeviceId id, const WAVEFORMATEX* format,
                                        TMMWaveCallback callback, void* instance, uint32_t flags) {
  return OpenDevice(false, handle, id, format, callback, instance, flags);
}

MMRESULT TMMVirtualDevices::waveOutClose(HWAVE handle) { return CloseDevice(handle); }

MMRESULT TMMVirtualDevices::waveOutPrepareHeader(HWAVE handle, PWaveHdr header, uint32_t) {
  const auto d = Find(handle);
  return d ? d->Stream.Prepare(header) : MMSYSERR_INVALHANDLE;
}

MMRESULT TMMVirtualDevices::waveOutUnprepareHeader(HWAVE handle, PWaveHdr header, uint32_t) {
  const auto d = Find(handle);
  return d ? d->Stream.Unprepare(header) : MMSYSERR_INVALHANDLE;
}

MMRESULT TMMVirtualDevices::waveOutWrite(HWAVE handle, PWaveHdr header, uint32_t) {
  const auto d = Find(handle);
  return d ? d->Stream.Add(header) : MMSYSERR_INVALHANDLE;
}

MMRESULT TMMVirtualDevices::waveOutPause(HWAVE handle) {
  const auto d = Find(handle);
  if (!d) return MMSYSERR_INVALHANDLE;
  d->Stream.SetRunning(false);
  return MMSYSERR_NOERROR;
}

MMRESULT TMMVirtualDevices::waveOutRestart(HWAVE handle) {
  const auto d = Find(handle);
  if (!d) return MMSYSERR_INVALHANDLE;
  d->Stream.SetRunning(true);
  return MMSYSERR_NOERROR;
}

MMRESULT TMMVirtualDevices::waveOutReset(HWAVE handle) {
  const auto d = Find(handle);
  if (!d) return MMSYSERR_INVALHANDLE;
  d->Stream.Reset();
  return MMSYSERR_NOERROR;
}

MMRESULT TMMVirtualDevices::waveOutGetPosition(HWAVE handle, TMMTime& time) {
  return Position(handle, time);
}

MMRESULT TMMVirtualDevices::waveOutGetID(HWAVE handle, TMMDeviceId& id) {
  const auto d = Find(handle);
  if (!d) return MMSYSERR_INVALHANDLE;
  id = d->Id;
  return MMSYSERR_NOERROR;
}

}  // namespace tv
