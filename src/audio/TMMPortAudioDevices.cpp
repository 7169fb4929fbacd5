#include "TMMPortAudioDevices.h"

#include <alsa/asoundlib.h>
#include <dlfcn.h>
#include <portaudio.h>

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "TMMDeviceStream.h"

namespace tv {

namespace {

constexpr size_t kMaxQueued = 4096;

void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}
void QuietJack(const char*) {}

// ALSA prints a line for every PCM it cannot open while PortAudio probes,
// and the JACK client library one for every failed server connection.
// JACK is loaded with PortAudio, so its hooks are found without linking it.
void SilenceSoundLibraries() {
  snd_lib_error_set_handler(&QuietAlsa);
  using SetHook = void (*)(void (*)(const char*));
  for (const char* name : {"jack_set_error_function", "jack_set_info_function"}) {
    if (void* symbol = dlsym(RTLD_DEFAULT, name)) {
      reinterpret_cast<SetHook>(symbol)(&QuietJack);
    }
  }
}

MMRESULT FromPa(PaError error) {
  switch (error) {
    case paNoError: return MMSYSERR_NOERROR;
    case paInvalidChannelCount:
    case paInvalidSampleRate:
    case paSampleFormatNotSupported:
    case paBadIODeviceCombination: return WAVERR_BADFORMAT;
    case paInsufficientMemory: return MMSYSERR_NOMEM;
    case paInvalidDevice:
    case paDeviceUnavailable: return MMSYSERR_ALLOCATED;
    case paNotInitialized: return MMSYSERR_NODRIVER;
    default: return MMSYSERR_ERROR;
  }
}

PaSampleFormat SampleFormat(const WAVEFORMATEX& f) {
  return f.wBitsPerSample == 8 ? paUInt8 : paInt16;
}

}  // namespace

class TMMPortAudioDevices::Device {
 public:
  Device(bool input, TMMDeviceId id, HWAVE handle, const WAVEFORMATEX& format,
         TMMWaveCallback callback, void* instance, unsigned long periodFrames)
      : Stream(input ? TMMDeviceStream::Direction::Capture : TMMDeviceStream::Direction::Playback,
               handle, format, callback, instance, kMaxQueued),
        Input(input),
        Id(id),
        Align(std::max<uint16_t>(format.nBlockAlign, 1)),
        Period(periodFrames),
        rate_(std::max<uint32_t>(format.nSamplesPerSec, 1)) {
    if (Input) chunk_.resize(static_cast<size_t>(Period) * 4 * Align);
  }
  ~Device() { StopReader(); }

  // Playback runs in PortAudio's callback.
  static int Callback(const void*, void* out, unsigned long frames,
                      const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags, void* user) {
    auto* self = static_cast<Device*>(user);
    self->Stream.Render(static_cast<uint8_t*>(out), static_cast<uint32_t>(frames * self->Align));
    return paContinue;
  }

  // PortAudio ends a callback stream by itself only when the device failed.
  static void Finished(void* user) {
    auto* self = static_cast<Device*>(user);
    if (!self->Closing.load()) self->Stream.Lost(MMSYSERR_DEVICELOST);
  }

  // Capture is read on a thread of our own, and only what the device holds
  // already: while a sound server warms up, PortAudio's own wait for input
  // polls ALSA's pulse plugin in a busy loop for a second or two.
  void StartReader() {
    reader_ = std::thread([this] { ReadLoop(); });
  }
  void StopReader() {
    {
      std::lock_guard guard(readerLock_);
      quit_ = true;
    }
    readerWake_.notify_all();
    if (reader_.joinable()) reader_.join();
  }

  TMMDeviceStream Stream;
  const bool Input;
  const TMMDeviceId Id;
  const uint32_t Align;
  const unsigned long Period;
  PaStream* Pa = nullptr;
  std::atomic<bool> Closing{false};

 private:
  void ReadLoop() {
    pthread_setname_np(pthread_self(), "tv-pa-input");
    const auto chunkFrames = static_cast<signed long>(chunk_.size() / Align);
    // Half a period between looks: the device buffer holds two.
    const auto pause = std::chrono::microseconds(
        std::max<int64_t>(2000, static_cast<int64_t>(Period) * 500000 / rate_));
    std::unique_lock guard(readerLock_);
    while (!quit_) {
      guard.unlock();
      signed long available = Pa_GetStreamReadAvailable(Pa);
      bool read = false;
      if (available < 0) {
        Stream.Lost(MMSYSERR_DEVICELOST);
        guard.lock();
        break;
      }
      if (available >= static_cast<signed long>(Period) / 2) {
        const signed long frames = std::min(available, chunkFrames);
        const PaError r = Pa_ReadStream(Pa, chunk_.data(), static_cast<unsigned long>(frames));
        if (r == paInputOverflowed) {
          Stream.NoteDeviceOverrun();
        } else if (r != paNoError) {
          Stream.Lost(MMSYSERR_DEVICELOST);
          guard.lock();
          break;
        }
        Stream.Capture(chunk_.data(), static_cast<uint32_t>(frames) * Align);
        read = true;
      }
      guard.lock();
      if (!read) readerWake_.wait_for(guard, pause, [this] { return quit_; });
    }
  }

  const uint32_t rate_;
  std::vector<uint8_t> chunk_;
  std::thread reader_;
  std::mutex readerLock_;
  std::condition_variable readerWake_;
  bool quit_ = false;
};

TMMPortAudioDevices::TMMPortAudioDevices() {
  SilenceSoundLibraries();
  if (Pa_Initialize() != paNoError) return;
  initialized_ = true;
  const PaDeviceIndex count = Pa_GetDeviceCount();
  const PaDeviceIndex defIn = Pa_GetDefaultInputDevice();
  const PaDeviceIndex defOut = Pa_GetDefaultOutputDevice();
  for (PaDeviceIndex i = 0; i < count; ++i) {
    const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
    if (info == nullptr) continue;
    std::string name = info->name != nullptr ? info->name : "";
    const PaHostApiInfo* api = Pa_GetHostApiInfo(info->hostApi);
    // ALSA is the usual road; other host APIs say which they are.
    if (api != nullptr && api->type != paALSA && api->name != nullptr) {
      name += std::string(" (") + api->name + ")";
    }
    if (info->maxInputChannels > 0) {
      if (i == defIn) defaultIn_ = static_cast<int>(inputs_.size());
      inputs_.push_back({i, name});
    }
    if (info->maxOutputChannels > 0) {
      if (i == defOut) defaultOut_ = static_cast<int>(outputs_.size());
      outputs_.push_back({i, name});
    }
  }
  if (defaultIn_ < 0 && !inputs_.empty()) defaultIn_ = 0;
  if (defaultOut_ < 0 && !outputs_.empty()) defaultOut_ = 0;
}

TMMPortAudioDevices::~TMMPortAudioDevices() {
  std::vector<HWAVE> handles;
  {
    std::lock_guard guard(lock_);
    for (const auto& [h, d] : open_) handles.push_back(h);
  }
  for (HWAVE h : handles) Close(h);
  if (initialized_) Pa_Terminate();
}

int TMMPortAudioDevices::Resolve(bool input, TMMDeviceId id) const {
  const auto& list = input ? inputs_ : outputs_;
  if (id == MapperId) id = input ? defaultIn_ : defaultOut_;
  if (id < 0 || id >= static_cast<TMMDeviceId>(list.size())) return -1;
  return id;
}

uint32_t TMMPortAudioDevices::waveInGetNumDevs() { return static_cast<uint32_t>(inputs_.size()); }
uint32_t TMMPortAudioDevices::waveOutGetNumDevs() {
  return static_cast<uint32_t>(outputs_.size());
}

MMRESULT TMMPortAudioDevices::Caps(bool input, TMMDeviceId id, TMMWaveCaps& caps) {
  const int local = Resolve(input, id);
  if (local < 0) return inputs_.empty() && outputs_.empty() ? MMSYSERR_NODRIVER
                                                            : MMSYSERR_BADDEVICEID;
  const Entry& e = (input ? inputs_ : outputs_)[static_cast<size_t>(local)];
  const PaDeviceInfo* info = Pa_GetDeviceInfo(e.paIndex);
  if (info == nullptr) return MMSYSERR_NODRIVER;
  caps = TMMWaveCaps{};
  caps.ProductName = id == MapperId ? "Default device (" + e.name + ")" : e.name;
  caps.DriverVersion = static_cast<uint32_t>(Pa_GetVersion());
  const int channels = input ? info->maxInputChannels : info->maxOutputChannels;
  caps.Channels = static_cast<uint16_t>(std::min(channels, 0xFFFF));
  caps.DefaultSampleRate = static_cast<uint32_t>(info->defaultSampleRate);
  // Every rate band: the open query decides what the device really takes.
  const uint32_t mono = WAVE_FORMAT_1M08 | WAVE_FORMAT_1M16 | WAVE_FORMAT_2M08 | WAVE_FORMAT_2M16 |
                        WAVE_FORMAT_4M08 | WAVE_FORMAT_4M16;
  const uint32_t stereo = WAVE_FORMAT_1S08 | WAVE_FORMAT_1S16 | WAVE_FORMAT_2S08 |
                          WAVE_FORMAT_2S16 | WAVE_FORMAT_4S08 | WAVE_FORMAT_4S16;
  caps.Formats = (channels >= 1 ? mono : 0) | (channels >= 2 ? stereo : 0);
  return MMSYSERR_NOERROR;
}

MMRESULT TMMPortAudioDevices::waveInGetDevCapsA(TMMDeviceId id, TMMWaveCaps& caps) {
  return Caps(true, id, caps);
}
MMRESULT TMMPortAudioDevices::waveOutGetDevCapsA(TMMDeviceId id, TMMWaveCaps& caps) {
  return Caps(false, id, caps);
}

MMRESULT TMMPortAudioDevices::ErrorText(MMRESULT code, std::string& text) {
  return StandardErrorText(code, text) ? MMSYSERR_NOERROR : MMSYSERR_BADERRNUM;
}
MMRESULT TMMPortAudioDevices::waveInGetErrorTextA(MMRESULT code, std::string& text) {
  return ErrorText(code, text);
}
MMRESULT TMMPortAudioDevices::waveOutGetErrorTextA(MMRESULT code, std::string& text) {
  return ErrorText(code, text);
}

std::shared_ptr<TMMPortAudioDevices::Device> TMMPortAudioDevices::Find(HWAVE handle) {
  std::lock_guard guard(lock_);
  const auto it = open_.find(handle);
  return it == open_.end() ? nullptr : it->second;
}

MMRESULT TMMPortAudioDevices::Open(bool input, HWAVE* handle, TMMDeviceId id,
                                   const WAVEFORMATEX* format, TMMWaveCallback callback,
                                   void* instance, uint32_t flags) {
  if (!initialized_) return MMSYSERR_NODRIVER;
  const int local = Resolve(input, id);
  if (local < 0) return MMSYSERR_BADDEVICEID;
  if (format == nullptr) return MMSYSERR_INVALPARAM;
  if (!PcmFormatSupported(format)) return WAVERR_BADFORMAT;
  const Entry& e = (input ? inputs_ : outputs_)[static_cast<size_t>(local)];
  const PaDeviceInfo* info = Pa_GetDeviceInfo(e.paIndex);
  if (info == nullptr) return MMSYSERR_NODRIVER;

  PaStreamParameters params{};
  params.device = e.paIndex;
  params.channelCount = format->nChannels;
  params.sampleFormat = SampleFormat(*format);
  const double rate = format->nSamplesPerSec;
  // Periods of about 40 ms: a sound server's plugin costs CPU per period,
  // and the components' own buffers are of that order anyway. A roomy
  // device buffer costs latency only, and keeps a busy machine from
  // dropping samples.
  unsigned long frames = 64;
  while (frames * 2 <= static_cast<unsigned long>(rate / 25 * 1.5)) frames *= 2;
  params.suggestedLatency =
      std::max(input ? info->defaultHighInputLatency : info->defaultHighOutputLatency,
               2.0 * static_cast<double>(frames) / rate);

  if (flags & WAVE_FORMAT_QUERY) {
    std::lock_guard pa(paLock_);
    const PaError r = input ? Pa_IsFormatSupported(&params, nullptr, rate)
                            : Pa_IsFormatSupported(nullptr, &params, rate);
    return r == paFormatIsSupported ? MMSYSERR_NOERROR : WAVERR_BADFORMAT;
  }
  if (handle == nullptr) return MMSYSERR_INVALPARAM;
  if ((flags & CALLBACK_FUNCTION) != CALLBACK_FUNCTION || callback == nullptr) {
    return MMSYSERR_INVALFLAG;
  }

  const HWAVE h = NewWaveHandle();
  auto device = std::make_shared<Device>(input, local, h, *format, callback, instance, frames);
  {
    std::lock_guard pa(paLock_);
    // No clipping or dithering: samples pass bit for bit.
    PaError r = Pa_OpenStream(&device->Pa, input ? &params : nullptr, input ? nullptr : &params,
                              rate, frames, paClipOff | paDitherOff,
                              input ? nullptr : &Device::Callback, input ? nullptr : device.get());
    if (r != paNoError) return FromPa(r);
    if (!input) Pa_SetStreamFinishedCallback(device->Pa, &Device::Finished);
    r = Pa_StartStream(device->Pa);
    if (r != paNoError) {
      device->Closing.store(true);
      Pa_CloseStream(device->Pa);
      return FromPa(r);
    }
  }
  if (input) device->StartReader();
  {
    std::lock_guard guard(lock_);
    open_[h] = device;
  }
  *handle = h;
  device->Stream.NotifyOpen(std::chrono::milliseconds(0));
  return MMSYSERR_NOERROR;
}

MMRESULT TMMPortAudioDevices::Close(HWAVE handle) {
  std::shared_ptr<Device> device;
  {
    std::lock_guard guard(lock_);
    const auto it = open_.find(handle);
    if (it == open_.end()) return MMSYSERR_INVALHANDLE;
    device = it->second;
    open_.erase(it);
  }
  device->Closing.store(true);
  device->StopReader();
  {
    std::lock_guard pa(paLock_);
    // Abort rather than drain: the component has taken its buffers back.
    if (Pa_IsStreamStopped(device->Pa) == 0) Pa_AbortStream(device->Pa);
    Pa_CloseStream(device->Pa);
    device->Pa = nullptr;
  }
  if (!device->Stream.Shutdown(true)) {
    std::lock_guard guard(lock_);
    open_[handle] = device;
    return MMSYSERR_HANDLEBUSY;
  }
  return MMSYSERR_NOERROR;
}

MMRESULT TMMPortAudioDevices::GetStatistics(HWAVE handle, TMMDeviceStatistics& stats) {
  const auto d = Find(handle);
  if (!d) return MMSYSERR_INVALHANDLE;
  stats = d->Stream.Statistics();
  return MMSYSERR_NOERROR;
}

// ---------------------------------------------------------------------------
// Input

MMRESULT TMMPortAudioDevices::waveInOpen(HWAVE* handle, TMMDeviceId id,
                                         const WAVEFORMATEX* format, TMMWaveCallback callback,
                                         void* instance, uint32_t flags) {
  return Open(true, handle, id, format, callback, instance, flags);
}

MMRESULT TMMPortAudioDevices::waveInClose(HWAVE handle) { return Close(handle); }

MMRESULT TMMPortAudioDevices::waveInPrepareHeader(HWAVE handle, PWaveHdr header, uint32_t) {
  const auto d = Find(handle);
  return d ? d->Stream.Prepare(header) : MMSYSERR_INVALHANDLE;
}

MMRESULT TMMPortAudioDevices::waveInUnprepareHeader(HWAVE handle, PWaveHdr header, uint32_t) {
  const auto d = Find(handle);
  return d ? d->Stream.Unprepare(header) : MMSYSERR_INVALHANDLE;
}

MMRESULT TMMPortAudioDevices::waveInAddBuffer(HWAVE handle, PWaveHdr header, uint32_t) {
  const auto d = Find(handle);
  return d ? d->Stream.Add(header) : MMSYSERR_INVALHANDLE;
}

MMRESULT TMMPortAudioDevices::waveInStart(HWAVE handle) {
  const auto d = Find(handle);
  if (!d) return MMSYSERR_INVALHANDLE;
  d->Stream.SetRunning(true);
  return MMSYSERR_NOERROR;
}

MMRESULT TMMPortAudioDevices::waveInStop(HWAVE handle) {
  const auto d = Find(handle);
  if (!d) return MMSYSERR_INVALHANDLE;
  d->Stream.ReturnPartial();
  return MMSYSERR_NOERROR;
}

MMRESULT TMMPortAudioDevices::waveInReset(HWAVE handle) {
  const auto d = Find(handle);
  if (!d) return MMSYSERR_INVALHANDLE;
  d->Stream.Reset();
  return MMSYSERR_NOERROR;
}

MMRESULT TMMPortAudioDevices::waveInGetPosition(HWAVE handle, TMMTime& time) {
  const auto d = Find(handle);
  if (!d) return MMSYSERR_INVALHANDLE;
  time.wType = TIME_SAMPLES;
  time.value = d->Stream.Position();
  return MMSYSERR_NOERROR;
}

MMRESULT TMMPortAudioDevices::waveInGetID(HWAVE handle, TMMDeviceId& id) {
  const auto d = Find(handle);
  if (!d) return MMSYSERR_INVALHANDLE;
  id = d->Id;
  return MMSYSERR_NOERROR;
}

// ---------------------------------------------------------------------------
// Output

MMRESULT TMMPortAudioDevices::waveOutOpen(HWAVE* handle, TMMDeviceId id,
                                          const WAVEFORMATEX* format, TMMWaveCallback callback,
                                          void* instance, uint32_t flags) {
  return Open(false, handle, id, format, callback, instance, flags);
}

MMRESULT TMMPortAudioDevices::waveOutClose(HWAVE handle) { return Close(handle); }

MMRESULT TMMPortAudioDevices::waveOutPrepareHeader(HWAVE handle, PWaveHdr header, uint32_t) {
  const auto d = Find(handle);
  return d ? d->Stream.Prepare(header) : MMSYSERR_INVALHANDLE;
}

MMRESULT TMMPortAudioDevices::waveOutUnprepareHeader(HWAVE handle, PWaveHdr header, uint32_t) {
  const auto d = Find(handle);
  return d ? d->Stream.Unprepare(header) : MMSYSERR_INVALHANDLE;
}

MMRESULT TMMPortAudioDevices::waveOutWrite(HWAVE handle, PWaveHdr header, uint32_t) {
  const auto d = Find(handle);
  return d ? d->Stream.Add(header) : MMSYSERR_INVALHANDLE;
}

MMRESULT TMMPortAudioDevices::waveOutPause(HWAVE handle) {
  const auto d = Find(handle);
  if (!d) return MMSYSERR_INVALHANDLE;
  d->Stream.SetRunning(false);
  return MMSYSERR_NOERROR;
}

MMRESULT TMMPortAudioDevices::waveOutRestart(HWAVE handle) {
  const auto d = Find(handle);
  if (!d) return MMSYSERR_INVALHANDLE;
  d->Stream.SetRunning(true);
  return MMSYSERR_NOERROR;
}

MMRESULT TMMPortAudioDevices::waveOutReset(HWAVE handle) {
  const auto d = Find(handle);
  if (!d) return MMSYSERR_INVALHANDLE;
  d->Stream.Reset();
  return MMSYSERR_NOERROR;
}

MMRESULT TMMPortAudioDevices::waveOutGetPosition(HWAVE handle, TMMTime& time) {
  const auto d = Find(handle);
  if (!d) return MMSYSERR_INVALHANDLE;
  time.wType = TIME_SAMPLES;
  time.value = d->Stream.Position();
  return MMSYSERR_NOERROR;
}

MMRESULT TMMPortAudioDevices::waveOutGetID(HWAVE handle, TMMDeviceId& id) {
  const auto d = Find(handle);
  if (!d) return MMSYSERR_INVALHANDLE;
  id = d->Id;
  return MMSYSERR_NOERROR;
}

}  // namespace tv
