#include "TMMWaveDevices.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "TMMPortAudioDevices.h"
#include "TMMVirtualDevices.h"

namespace tv {

// ---------------------------------------------------------------------------
// Error texts and handles

bool StandardErrorText(MMRESULT code, std::string& text) {
  switch (code) {
    case MMSYSERR_NOERROR: text = "The command completed successfully."; return true;
    case MMSYSERR_ERROR: text = "Undefined external error."; return true;
    case MMSYSERR_BADDEVICEID: text = "A device ID has been used that is out of range for your system."; return true;
    case MMSYSERR_NOTENABLED: text = "The device is not ready (its wave file cannot be read)."; return true;
    case MMSYSERR_ALLOCATED: text = "The specified device is already in use. Wait until it is free, and then try again."; return true;
    case MMSYSERR_INVALHANDLE: text = "The specified device handle is invalid."; return true;
    case MMSYSERR_NODRIVER: text = "There is no driver installed on your system."; return true;
    case MMSYSERR_NOMEM: text = "There is not enough memory available for this task."; return true;
    case MMSYSERR_NOTSUPPORTED: text = "This function is not supported."; return true;
    case MMSYSERR_BADERRNUM: text = "An error number was specified that is not defined in the system."; return true;
    case MMSYSERR_INVALFLAG: text = "An invalid flag was passed to a system function."; return true;
    case MMSYSERR_INVALPARAM: text = "An invalid parameter was passed to a system function."; return true;
    case MMSYSERR_HANDLEBUSY: text = "The handle is being used simultaneously on another thread."; return true;
    case WAVERR_BADFORMAT: text = "The specified format is not supported or cannot be translated."; return true;
    case WAVERR_STILLPLAYING: text = "Cannot perform this operation while media data is still playing."; return true;
    case WAVERR_UNPREPARED: text = "The wave header was not prepared."; return true;
    case MMSYSERR_DEVICELOST: text = "The device stopped working: it was unplugged or its sound server stopped."; return true;
    default: return false;
  }
}

MMRESULT TMMWaveDevices::waveInGetErrorTextA(MMRESULT code, std::string& text) {
  return StandardErrorText(code, text) ? MMSYSERR_NOERROR : MMSYSERR_BADERRNUM;
}

MMRESULT TMMWaveDevices::waveOutGetErrorTextA(MMRESULT code, std::string& text) {
  return StandardErrorText(code, text) ? MMSYSERR_NOERROR : MMSYSERR_BADERRNUM;
}

MMRESULT TMMWaveDevices::GetStatistics(HWAVE, TMMDeviceStatistics&) {
  return MMSYSERR_NOTSUPPORTED;
}

HWAVE NewWaveHandle() {
  static std::atomic<HWAVE> next{0x1000};
  return next.fetch_add(1);
}

// ---------------------------------------------------------------------------
// TMMWaveDeviceSet

void TMMWaveDeviceSet::Add(TMMWaveDevices* backend) {
  if (backend == nullptr || std::find(backends_.begin(), backends_.end(), backend) != backends_.end()) {
    return;
  }
  backends_.push_back(backend);
  if (defaultIn_ == nullptr) defaultIn_ = backend;
  if (defaultOut_ == nullptr) defaultOut_ = backend;
}

void TMMWaveDeviceSet::SetDefaultInput(TMMWaveDevices* backend) { defaultIn_ = backend; }
void TMMWaveDeviceSet::SetDefaultOutput(TMMWaveDevices* backend) { defaultOut_ = backend; }

TMMWaveDeviceSet::Route TMMWaveDeviceSet::RouteIn(TMMDeviceId id) {
  Route r;
  if (id == MapperId) {
    TMMDeviceId first = 0;
    for (TMMWaveDevices* b : backends_) {
      if (b == defaultIn_) {
        r = {b, MapperId, first};
        break;
      }
      first += static_cast<TMMDeviceId>(b->waveInGetNumDevs());
    }
    return r;
  }
  if (id < 0) return r;
  TMMDeviceId first = 0;
  for (TMMWaveDevices* b : backends_) {
    const auto n = static_cast<TMMDeviceId>(b->waveInGetNumDevs());
    if (id < first + n) return {b, id - first, first};
    first += n;
  }
  return r;
}

TMMWaveDeviceSet::Route TMMWaveDeviceSet::RouteOut(TMMDeviceId id) {
  Route r;
  if (id == MapperId) {
    TMMDeviceId first = 0;
    for (TMMWaveDevices* b : backends_) {
      if (b == defaultOut_) {
        r = {b, MapperId, first};
        break;
      }
      first += static_cast<TMMDeviceId>(b->waveOutGetNumDevs());
    }
    return r;
  }
  if (id < 0) return r;
  TMMDeviceId first = 0;
  for (TMMWaveDevices* b : backends_) {
    const auto n = static_cast<TMMDeviceId>(b->waveOutGetNumDevs());
    if (id < first + n) return {b, id - first, first};
    first += n;
  }
  return r;
}

void TMMWaveDeviceSet::Remember(HWAVE handle, TMMWaveDevices* backend, TMMDeviceId first) {
  std::lock_guard guard(lock_);
  open_.push_back({handle, backend, first});
}

void TMMWaveDeviceSet::Forget(HWAVE handle) {
  std::lock_guard guard(lock_);
  std::erase_if(open_, [&](const Open& o) { return o.handle == handle; });
}

TMMWaveDevices* TMMWaveDeviceSet::Owner(HWAVE handle) {
  std::lock_guard guard(lock_);
  for (const Open& o : open_) {
    if (o.handle == handle) return o.backend;
  }
  return nullptr;
}

uint32_t TMMWaveDeviceSet::waveInGetNumDevs() {
  uint32_t n = 0;
  for (TMMWaveDevices* b : backends_) n += b->waveInGetNumDevs();
  return n;
}

uint32_t TMMWaveDeviceSet::waveOutGetNumDevs() {
  uint32_t n = 0;
  for (TMMWaveDevices* b : backends_) n += b->waveOutGetNumDevs();
  return n;
}

MMRESULT TMMWaveDeviceSet::waveInGetDevCapsA(TMMDeviceId id, TMMWaveCaps& caps) {
  const Route r = RouteIn(id);
  return r.backend ? r.backend->waveInGetDevCapsA(r.id, caps) : MMSYSERR_BADDEVICEID;
}

MMRESULT TMMWaveDeviceSet::waveOutGetDevCapsA(TMMDeviceId id, TMMWaveCaps& caps) {
  const Route r = RouteOut(id);
  return r.backend ? r.backend->waveOutGetDevCapsA(r.id, caps) : MMSYSERR_BADDEVICEID;
}

MMRESULT TMMWaveDeviceSet::waveInGetErrorTextA(MMRESULT code, std::string& text) {
  for (TMMWaveDevices* b : backends_) {
    if (b->waveInGetErrorTextA(code, text) == MMSYSERR_NOERROR) return MMSYSERR_NOERROR;
  }
  return TMMWaveDevices::waveInGetErrorTextA(code, text);
}

MMRESULT TMMWaveDeviceSet::waveOutGetErrorTextA(MMRESULT code, std::string& text) {
  for (TMMWaveDevices* b : backends_) {
    if (b->waveOutGetErrorTextA(code, text) == MMSYSERR_NOERROR) return MMSYSERR_NOERROR;
  }
  return TMMWaveDevices::waveOutGetErrorTextA(code, text);
}

MMRESULT TMMWaveDeviceSet::waveInOpen(HWAVE* handle, TMMDeviceId id, const WAVEFORMATEX* format,
                                      TMMWaveCallback callback, void* instance, uint32_t flags) {
  const Route r = RouteIn(id);
  if (!r.backend) return MMSYSERR_BADDEVICEID;
  HWAVE h = 0;
  const MMRESULT result = r.backend->waveInOpen(handle != nullptr ? &h : nullptr, r.id, format,
                                                callback, instance, flags);
  if (result == MMSYSERR_NOERROR && (flags & WAVE_FORMAT_QUERY) == 0 && handle != nullptr) {
    Remember(h, r.backend, r.first);
    *handle = h;
  }
  return result;
}

MMRESULT TMMWaveDeviceSet::waveOutOpen(HWAVE* handle, TMMDeviceId id, const WAVEFORMATEX* format,
                                       TMMWaveCallback callback, void* instance, uint32_t flags) {
  const Route r = RouteOut(id);
  if (!r.backend) return MMSYSERR_BADDEVICEID;
  HWAVE h = 0;
  const MMRESULT result = r.backend->waveOutOpen(handle != nullptr ? &h : nullptr, r.id, format,
                                                 callback, instance, flags);
  if (result == MMSYSERR_NOERROR && (flags & WAVE_FORMAT_QUERY) == 0 && handle != nullptr) {
    Remember(h, r.backend, r.first);
    *handle = h;
  }
  return result;
}

MMRESULT TMMWaveDeviceSet::waveInClose(HWAVE handle) {
  TMMWaveDevices* b = Owner(handle);
  if (!b) return MMSYSERR_INVALHANDLE;
  const MMRESULT r = b->waveInClose(handle);
  if (r != MMSYSERR_HANDLEBUSY) Forget(handle);
  return r;
}

MMRESULT TMMWaveDeviceSet::waveOutClose(HWAVE handle) {
  TMMWaveDevices* b = Owner(handle);
  if (!b) return MMSYSERR_INVALHANDLE;
  const MMRESULT r = b->waveOutClose(handle);
  if (r != MMSYSERR_HANDLEBUSY) Forget(handle);
  return r;
}

#define TV_FORWARD(call)                     \
  TMMWaveDevices* b = Owner(handle);         \
  if (!b) return MMSYSERR_INVALHANDLE;       \
  return b->call

MMRESULT TMMWaveDeviceSet::waveInPrepareHeader(HWAVE handle, PWaveHdr header, uint32_t size) {
  TV_FORWARD(waveInPrepareHeader(handle, header, size));
}
MMRESULT TMMWaveDeviceSet::waveInUnprepareHeader(HWAVE handle, PWaveHdr header, uint32_t size) {
  TV_FORWARD(waveInUnprepareHeader(handle, header, size));
}
MMRESULT TMMWaveDeviceSet::waveInAddBuffer(HWAVE handle, PWaveHdr header, uint32_t size) {
  TV_FORWARD(waveInAddBuffer(handle, header, size));
}
MMRESULT TMMWaveDeviceSet::waveInStart(HWAVE handle) { TV_FORWARD(waveInStart(handle)); }
MMRESULT TMMWaveDeviceSet::waveInStop(HWAVE handle) { TV_FORWARD(waveInStop(handle)); }
MMRESULT TMMWaveDeviceSet::waveInReset(HWAVE handle) { TV_FORWARD(waveInReset(handle)); }
MMRESULT TMMWaveDeviceSet::waveInGetPosition(HWAVE handle, TMMTime& time) {
  TV_FORWARD(waveInGetPosition(handle, time));
}
MMRESULT TMMWaveDeviceSet::waveOutPrepareHeader(HWAVE handle, PWaveHdr header, uint32_t size) {
  TV_FORWARD(waveOutPrepareHeader(handle, header, size));
}
MMRESULT TMMWaveDeviceSet::waveOutUnprepareHeader(HWAVE handle, PWaveHdr header, uint32_t size) {
  TV_FORWARD(waveOutUnprepareHeader(handle, header, size));
}
MMRESULT TMMWaveDeviceSet::waveOutWrite(HWAVE handle, PWaveHdr header, uint32_t size) {
  TV_FORWARD(waveOutWrite(handle, header, size));
}
MMRESULT TMMWaveDeviceSet::waveOutPause(HWAVE handle) { TV_FORWARD(waveOutPause(handle)); }
MMRESULT TMMWaveDeviceSet::waveOutRestart(HWAVE handle) { TV_FORWARD(waveOutRestart(handle)); }
MMRESULT TMMWaveDeviceSet::waveOutReset(HWAVE handle) { TV_FORWARD(waveOutReset(handle)); }
MMRESULT TMMWaveDeviceSet::waveOutGetPosition(HWAVE handle, TMMTime& time) {
  TV_FORWARD(waveOutGetPosition(handle, time));
}
MMRESULT TMMWaveDeviceSet::GetStatistics(HWAVE handle, TMMDeviceStatistics& stats) {
  TV_FORWARD(GetStatistics(handle, stats));
}

#undef TV_FORWARD

MMRESULT TMMWaveDeviceSet::waveInGetID(HWAVE handle, TMMDeviceId& id) {
  TMMDeviceId first = 0;
  TMMWaveDevices* b = nullptr;
  {
    std::lock_guard guard(lock_);
    for (const Open& o : open_) {
      if (o.handle == handle) {
        b = o.backend;
        first = o.first;
      }
    }
  }
  if (!b) return MMSYSERR_INVALHANDLE;
  const MMRESULT r = b->waveInGetID(handle, id);
  if (r == MMSYSERR_NOERROR) id += first;
  return r;
}

MMRESULT TMMWaveDeviceSet::waveOutGetID(HWAVE handle, TMMDeviceId& id) {
  TMMDeviceId first = 0;
  TMMWaveDevices* b = nullptr;
  {
    std::lock_guard guard(lock_);
    for (const Open& o : open_) {
      if (o.handle == handle) {
        b = o.backend;
        first = o.first;
      }
    }
  }
  if (!b) return MMSYSERR_INVALHANDLE;
  const MMRESULT r = b->waveOutGetID(handle, id);
  if (r == MMSYSERR_NOERROR) id += first;
  return r;
}

// ---------------------------------------------------------------------------
// The system's table

namespace {

class SystemDevices {
 public:
  SystemDevices() {
    const char* mode = std::getenv("TONVISTA_AUDIO");
    const std::string m = mode != nullptr ? mode : "";
    if (m == "virtual" || m == "virtual-only") {
      virtualSelected_ = true;
    } else if (!m.empty() && m != "system") {
      std::fprintf(stderr,
                   "TONVISTA_AUDIO=%s is not known (use \"system\", \"virtual\" or \"virtual-only\")\n",
                   m.c_str());
    }
    // "virtual-only" leaves the sound system alone altogether: machines
    // without sound, and test runs that must not load its plug-ins.
    if (m != "virtual-only") {
      real_ = std::make_unique<TMMPortAudioDevices>();
      set_.Add(real_.get());
    }
    if (virtualSelected_) {
      set_.Add(&virtual_);
      set_.SetDefaultInput(&virtual_);
      set_.SetDefaultOutput(&virtual_);
    }
  }

  TMMWaveDeviceSet& Set() { return set_; }
  bool VirtualSelected() const { return virtualSelected_; }

  void UseLineIn(const std::string& file) {
    virtual_.SetLineInFile(file);
    if (file.empty()) {
      if (!virtualSelected_ && real_) set_.SetDefaultInput(real_.get());
      return;
    }
    set_.Add(&virtual_);
    set_.SetDefaultInput(&virtual_);
  }

 private:
  std::unique_ptr<TMMPortAudioDevices> real_;
  TMMVirtualDevices virtual_;
  TMMWaveDeviceSet set_;
  bool virtualSelected_ = false;
};

SystemDevices& System() {
  static SystemDevices devices;
  return devices;
}

std::atomic<TMMWaveDevices*> gOverride{nullptr};

std::mutex gHookLock;
TMMWaitCursorHook gWaitCursor;

}  // namespace

TMMWaveDevices& SystemWaveDevices() {
  if (TMMWaveDevices* d = gOverride.load()) return *d;
  return System().Set();
}

void SetSystemWaveDevices(TMMWaveDevices* devices) { gOverride.store(devices); }

void UseLineInFile(const std::string& fileName) { System().UseLineIn(fileName); }

bool VirtualAudioSelected() { return System().VirtualSelected(); }

void SetWaitCursorHook(TMMWaitCursorHook hook) {
  std::lock_guard guard(gHookLock);
  gWaitCursor = std::move(hook);
}

void ShowWaitCursor(bool busy) {
  TMMWaitCursorHook hook;
  {
    std::lock_guard guard(gHookLock);
    hook = gWaitCursor;
  }
  if (hook) hook(busy);
}

bool InterruptCallbacksSupported() { return false; }

}  // namespace tv
