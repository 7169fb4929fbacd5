// The device function table: the operations the wave input and the wave
// output ask of a sound device, modelled on the classic waveIn/waveOut calls
// so that the components' logic reads the same on every backend. Backends:
// the sound system through PortAudio (TMMPortAudioDevices) and the built-in
// virtual devices (TMMVirtualDevices). The components use SystemWaveDevices(),
// which lists the sound system's devices followed by the virtual ones when
// those are enabled (TONVISTA_AUDIO=virtual, or a wave file as line-in).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "MMDSPObj.h"
#include "MMPCMSup.h"
#include "MMThreadPriority.h"
#include "MMTypes.h"

namespace tv {

using MMRESULT = uint32_t;
// 0 means no device.
using HWAVE = uint64_t;

// Result codes, with the classic values where one exists.
enum : MMRESULT {
  MMSYSERR_NOERROR = 0,
  MMSYSERR_ERROR = 1,
  MMSYSERR_BADDEVICEID = 2,
  MMSYSERR_NOTENABLED = 3,
  MMSYSERR_ALLOCATED = 4,
  MMSYSERR_INVALHANDLE = 5,
  MMSYSERR_NODRIVER = 6,
  MMSYSERR_NOMEM = 7,
  MMSYSERR_NOTSUPPORTED = 8,
  MMSYSERR_BADERRNUM = 9,
  MMSYSERR_INVALFLAG = 10,
  MMSYSERR_INVALPARAM = 11,
  MMSYSERR_HANDLEBUSY = 12,
  WAVERR_BADFORMAT = 32,
  WAVERR_STILLPLAYING = 33,
  WAVERR_UNPREPARED = 34,
  // The device stopped working while open (unplugged, sound server gone).
  MMSYSERR_DEVICELOST = 512,
};

// Notifications a device sends to the callback given at open.
enum : uint32_t {
  MM_WOM_OPEN = 0x3BB,
  MM_WOM_CLOSE = 0x3BC,
  MM_WOM_DONE = 0x3BD,
  MM_WIM_OPEN = 0x3BE,
  MM_WIM_CLOSE = 0x3BF,
  MM_WIM_DATA = 0x3C0,
  // The device failed while open; the code tells why.
  MM_WIM_ERROR = 0x3C1,
  MM_WOM_ERROR = 0x3C2,
};

// Open flags.
enum : uint32_t {
  WAVE_FORMAT_QUERY = 0x1,
  WAVE_MAPPED = 0x4,
  CALLBACK_WINDOW = 0x10000,
  CALLBACK_FUNCTION = 0x30000,
};

// Buffer header flags (dwFlags).
enum : uint32_t {
  WHDR_DONE = 0x1,
  WHDR_PREPARED = 0x2,
  WHDR_INQUEUE = 0x10,
};

// Capability bits: rate band, channels and sample size a device handles.
enum : uint32_t {
  WAVE_FORMAT_1M08 = 0x1,
  WAVE_FORMAT_1S08 = 0x2,
  WAVE_FORMAT_1M16 = 0x4,
  WAVE_FORMAT_1S16 = 0x8,
  WAVE_FORMAT_2M08 = 0x10,
  WAVE_FORMAT_2S08 = 0x20,
  WAVE_FORMAT_2M16 = 0x40,
  WAVE_FORMAT_2S16 = 0x80,
  WAVE_FORMAT_4M08 = 0x100,
  WAVE_FORMAT_4S08 = 0x200,
  WAVE_FORMAT_4M16 = 0x400,
  WAVE_FORMAT_4S16 = 0x800,
  WAVE_FORMAT_ALL = 0xFFF,
};

// Units of a position query.
enum : uint32_t { TIME_MS = 1, TIME_SAMPLES = 2, TIME_BYTES = 4 };

struct TMMTime {
  uint32_t wType = TIME_SAMPLES;  // asked for; the device may answer in another unit
  uint32_t value = 0;
};

struct TMMWaveCaps {
  std::string ProductName;
  uint32_t DriverVersion = 0;
  uint32_t Formats = 0;  // WAVE_FORMAT_* bits
  uint16_t Channels = 0;
  // The format the device prefers, for listings.
  uint32_t DefaultSampleRate = 0;
};

// What an open device counted since it was opened.
struct TMMDeviceStatistics {
  uint64_t BuffersDone = 0;
  // Capture: bytes that arrived while no buffer was queued (dropped).
  uint64_t OverrunBytes = 0;
  // Playback: bytes of silence played in gaps between queued buffers.
  uint64_t UnderrunBytes = 0;
  uint32_t Overruns = 0;
  uint32_t Underruns = 0;
};

// The device's callback. `header` is set for MM_WIM_DATA and MM_WOM_DONE,
// `code` for the error notifications. It runs on a thread of the backend,
// never inside a sound server's real-time callback; it must not block.
using TMMWaveCallback = void (*)(HWAVE handle, uint32_t message, void* instance,
                                 PWaveHdr header, MMRESULT code);

// The flags word is shared between a component and the device thread that
// completes the buffer.
inline uint32_t HeaderFlags(const TMMBufferHeader* h) {
  return std::atomic_ref<uint32_t>(const_cast<TMMBufferHeader*>(h)->dwFlags).load();
}
inline void SetHeaderFlags(TMMBufferHeader* h, uint32_t flags) {
  std::atomic_ref<uint32_t>(h->dwFlags).store(flags);
}

class TMMWaveDevices {
 public:
  virtual ~TMMWaveDevices() = default;

  // Wave input.
  virtual uint32_t waveInGetNumDevs() = 0;
  virtual MMRESULT waveInGetDevCapsA(TMMDeviceId id, TMMWaveCaps& caps) = 0;
  virtual MMRESULT waveInGetErrorTextA(MMRESULT code, std::string& text);
  // With WAVE_FORMAT_QUERY only answers whether the format can be recorded.
  virtual MMRESULT waveInOpen(HWAVE* handle, TMMDeviceId id, const WAVEFORMATEX* format,
                              TMMWaveCallback callback, void* instance, uint32_t flags) = 0;
  virtual MMRESULT waveInClose(HWAVE handle) = 0;
  virtual MMRESULT waveInPrepareHeader(HWAVE handle, PWaveHdr header, uint32_t size) = 0;
  virtual MMRESULT waveInUnprepareHeader(HWAVE handle, PWaveHdr header, uint32_t size) = 0;
  virtual MMRESULT waveInAddBuffer(HWAVE handle, PWaveHdr header, uint32_t size) = 0;
  virtual MMRESULT waveInStart(HWAVE handle) = 0;
  // Returns the buffer being filled (if it holds data); empty ones stay queued.
  virtual MMRESULT waveInStop(HWAVE handle) = 0;
  // Stops and returns every queued buffer; the position goes back to 0.
  virtual MMRESULT waveInReset(HWAVE handle) = 0;
  virtual MMRESULT waveInGetPosition(HWAVE handle, TMMTime& time) = 0;
  virtual MMRESULT waveInGetID(HWAVE handle, TMMDeviceId& id) = 0;

  // Wave output.
  virtual uint32_t waveOutGetNumDevs() = 0;
  virtual MMRESULT waveOutGetDevCapsA(TMMDeviceId id, TMMWaveCaps& caps) = 0;
  virtual MMRESULT waveOutGetErrorTextA(MMRESULT code, std::string& text);
  virtual MMRESULT waveOutOpen(HWAVE* handle, TMMDeviceId id, const WAVEFORMATEX* format,
                               TMMWaveCallback callback, void* instance, uint32_t flags) = 0;
  virtual MMRESULT waveOutClose(HWAVE handle) = 0;
  virtual MMRESULT waveOutPrepareHeader(HWAVE handle, PWaveHdr header, uint32_t size) = 0;
  virtual MMRESULT waveOutUnprepareHeader(HWAVE handle, PWaveHdr header, uint32_t size) = 0;
  // Plays dwBufferLength bytes at lpData after the buffers already queued.
  virtual MMRESULT waveOutWrite(HWAVE handle, PWaveHdr header, uint32_t size) = 0;
  virtual MMRESULT waveOutPause(HWAVE handle) = 0;
  virtual MMRESULT waveOutRestart(HWAVE handle) = 0;
  // Returns every queued buffer; the position goes back to 0; a paused
  // device stays paused.
  virtual MMRESULT waveOutReset(HWAVE handle) = 0;
  virtual MMRESULT waveOutGetPosition(HWAVE handle, TMMTime& time) = 0;
  virtual MMRESULT waveOutGetID(HWAVE handle, TMMDeviceId& id) = 0;

  // Counters of an open device of either direction.
  virtual MMRESULT GetStatistics(HWAVE handle, TMMDeviceStatistics& stats);
};

// Texts of the standard result codes; false for an unknown code.
bool StandardErrorText(MMRESULT code, std::string& text);

// A fresh handle value, unique in the process.
HWAVE NewWaveHandle();

// Several backends behind one table: the devices of the first backend,
// then those of the next, and so on. The mapper (-1) goes to the default
// backend of each direction.
class TMMWaveDeviceSet : public TMMWaveDevices {
 public:
  TMMWaveDeviceSet() = default;
  void Add(TMMWaveDevices* backend);
  void SetDefaultInput(TMMWaveDevices* backend);
  void SetDefaultOutput(TMMWaveDevices* backend);

  uint32_t waveInGetNumDevs() override;
  MMRESULT waveInGetDevCapsA(TMMDeviceId id, TMMWaveCaps& caps) override;
  MMRESULT waveInGetErrorTextA(MMRESULT code, std::string& text) override;
  MMRESULT waveInOpen(HWAVE* handle, TMMDeviceId id, const WAVEFORMATEX* format,
                      TMMWaveCallback callback, void* instance, uint32_t flags) override;
  MMRESULT waveInClose(HWAVE handle) override;
  MMRESULT waveInPrepareHeader(HWAVE handle, PWaveHdr header, uint32_t size) override;
  MMRESULT waveInUnprepareHeader(HWAVE handle, PWaveHdr header, uint32_t size) override;
  MMRESULT waveInAddBuffer(HWAVE handle, PWaveHdr header, uint32_t size) override;
  MMRESULT waveInStart(HWAVE handle) override;
  MMRESULT waveInStop(HWAVE handle) override;
  MMRESULT waveInReset(HWAVE handle) override;
  MMRESULT waveInGetPosition(HWAVE handle, TMMTime& time) override;
  MMRESULT waveInGetID(HWAVE handle, TMMDeviceId& id) override;

  uint32_t waveOutGetNumDevs() override;
  MMRESULT waveOutGetDevCapsA(TMMDeviceId id, TMMWaveCaps& caps) override;
  MMRESULT waveOutGetErrorTextA(MMRESULT code, std::string& text) override;
  MMRESULT waveOutOpen(HWAVE* handle, TMMDeviceId id, const WAVEFORMATEX* format,
                       TMMWaveCallback callback, void* instance, uint32_t flags) override;
  MMRESULT waveOutClose(HWAVE handle) override;
  MMRESULT waveOutPrepareHeader(HWAVE handle, PWaveHdr header, uint32_t size) override;
  MMRESULT waveOutUnprepareHeader(HWAVE handle, PWaveHdr header, uint32_t size) override;
  MMRESULT waveOutWrite(HWAVE handle, PWaveHdr header, uint32_t size) override;
  MMRESULT waveOutPause(HWAVE handle) override;
  MMRESULT waveOutRestart(HWAVE handle) override;
  MMRESULT waveOutReset(HWAVE handle) override;
  MMRESULT waveOutGetPosition(HWAVE handle, TMMTime& time) override;
  MMRESULT waveOutGetID(HWAVE handle, TMMDeviceId& id) override;

  MMRESULT GetStatistics(HWAVE handle, TMMDeviceStatistics& stats) override;

 private:
  struct Route {
    TMMWaveDevices* backend = nullptr;
    TMMDeviceId id = InvalidId;  // the backend's own index
    TMMDeviceId first = 0;       // the backend's first index in the set
  };
  Route RouteIn(TMMDeviceId id);
  Route RouteOut(TMMDeviceId id);
  TMMWaveDevices* Owner(HWAVE handle);
  void Remember(HWAVE handle, TMMWaveDevices* backend, TMMDeviceId first);
  void Forget(HWAVE handle);

  std::vector<TMMWaveDevices*> backends_;
  TMMWaveDevices* defaultIn_ = nullptr;
  TMMWaveDevices* defaultOut_ = nullptr;
  std::mutex lock_;
  struct Open {
    HWAVE handle;
    TMMWaveDevices* backend;
    TMMDeviceId first;
  };
  std::vector<Open> open_;
};

// The device table the components bind to. Built on first use from the
// environment: TONVISTA_AUDIO=virtual lists the virtual devices after the
// sound system's and makes them the defaults; TONVISTA_AUDIO=virtual-only
// lists only them and never starts the sound system.
TMMWaveDevices& SystemWaveDevices();
// Replaces the table (tests); nullptr restores the system's. Components
// bind when they are created.
void SetSystemWaveDevices(TMMWaveDevices* devices);
// "A wave file as line-in": lists the virtual devices and makes the file
// the default input. Call before the components are created; an empty name
// ends it.
void UseLineInFile(const std::string& fileName);
// True when the virtual devices are the defaults of both directions.
bool VirtualAudioSelected();

// The wait cursor the wave output shows while it fills a large ring: the
// user interface installs a hook; without one nothing shows.
using TMMWaitCursorHook = std::function<void(bool busy)>;
void SetWaitCursorHook(TMMWaitCursorHook hook);
void ShowWaitCursor(bool busy);

// Whether driver callbacks at interrupt time are offered on this platform
// (the callback mode cmCallback). They are not: every device here calls
// back from a thread of its own, which the components then hand on.
bool InterruptCallbacksSupported();

}  // namespace tv
