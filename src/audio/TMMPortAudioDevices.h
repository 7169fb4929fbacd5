// The sound system's devices through PortAudio (ALSA, PulseAudio through
// its ALSA plugin, JACK, OSS: whatever the installed PortAudio offers).
// Each open device runs one PortAudio stream from open to close; its
// real-time callback only copies samples into or out of the queued
// buffers (TMMDeviceStream), so starting, stopping and pausing never wait
// for the sound server.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "TMMWaveDevices.h"

namespace tv {

class TMMPortAudioDevices : public TMMWaveDevices {
 public:
  // Initialises PortAudio (with the ALSA and JACK libraries' start-up
  // chatter silenced). Without a reachable sound system there are simply
  // no devices.
  TMMPortAudioDevices();
  ~TMMPortAudioDevices() override;

  bool Initialized() const { return initialized_; }

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

  class Device;

 private:
  struct Entry {
    int paIndex;  // PortAudio's device index
    std::string name;
  };
  MMRESULT Caps(bool input, TMMDeviceId id, TMMWaveCaps& caps);
  int Resolve(bool input, TMMDeviceId id) const;
  MMRESULT Open(bool input, HWAVE* handle, TMMDeviceId id, const WAVEFORMATEX* format,
                TMMWaveCallback callback, void* instance, uint32_t flags);
  MMRESULT Close(HWAVE handle);
  std::shared_ptr<Device> Find(HWAVE handle);
  MMRESULT ErrorText(MMRESULT code, std::string& text);

  bool initialized_ = false;
  std::vector<Entry> inputs_;
  std::vector<Entry> outputs_;
  int defaultIn_ = -1;   // index into inputs_
  int defaultOut_ = -1;  // index into outputs_
  // PortAudio's stream calls are not thread-safe among themselves.
  std::mutex paLock_;
  std::mutex lock_;
  std::map<HWAVE, std::shared_ptr<Device>> open_;
};

}  // namespace tv
