// The virtual devices: sound devices made of our own threads, for tests,
// demonstrations and machines without a sound card. They keep real time
// (or a chosen multiple of it) from the steady clock.
//
//   inputs:  "Virtual loopback"  what is played to the virtual loopback output
//            "Virtual silence"
//            "Wave file as line-in: NAME"  a chosen wave file, looping
//                                (listed only while a file is chosen)
//   outputs: "Virtual loopback"  played data goes to the loopback input
//            "Virtual null output" consumes in real time
//
// Every device takes any PCM format the components offer; the loopback and
// the line-in convert (sample size, channels, rate) where the formats
// differ, and pass the bytes unchanged where they agree. Faults can be
// injected per direction for tests.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "TMMWaveDevices.h"

namespace tv {

struct TMMVirtualFaults {
  bool FailOpen = false;         // open answers "already in use"
  bool RefuseFormats = false;    // the format query fails
  int OpenNotifyDelayMs = 0;     // the open notification comes late; < 0: never
  bool NoCloseNotify = false;    // the close notification never comes
  int VanishAfterMs = -1;        // the device reports itself lost this long after open
  int StallAfterMs = -1;         // the device stops moving data, silently
  int DeliverLateMs = 0;         // every finished buffer is reported this late
  bool PositionInBytes = false;  // position answers come in bytes
  uint32_t PositionWrap = 0;     // the position counter wraps at this many samples
};

class TMMVirtualDevices : public TMMWaveDevices {
 public:
  enum : int { kLoopbackIn = 0, kSilenceIn = 1, kLineIn = 2 };
  enum : int { kLoopbackOut = 0, kNullOut = 1 };

  TMMVirtualDevices();
  ~TMMVirtualDevices() override;

  // Chooses the wave file of the line-in device (an empty name removes the
  // device). Throws EMMWaveError when the file cannot be read as PCM audio.
  void SetLineInFile(const std::string& fileName);
  std::string LineInFile() const;
  // The devices' clock runs this many times faster than real time.
  void SetSpeed(double factor);
  double Speed() const { return speed_.load(); }
  void SetInputFaults(const TMMVirtualFaults& faults);
  void SetOutputFaults(const TMMVirtualFaults& faults);

  uint32_t waveInGetNumDevs() override;
  MMRESULT waveInGetDevCapsA(TMMDeviceId id, TMMWaveCaps& caps) override;
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
  struct Bus;

 private:
  std::shared_ptr<Device> Find(HWAVE handle);
  MMRESULT OpenDevice(bool input, HWAVE* handle, TMMDeviceId id, const WAVEFORMATEX* format,
                      TMMWaveCallback callback, void* instance, uint32_t flags);
  MMRESULT CloseDevice(HWAVE handle);
  MMRESULT Position(HWAVE handle, TMMTime& time);

  mutable std::mutex lock_;
  std::map<HWAVE, std::shared_ptr<Device>> open_;
  std::string lineInFile_;
  TMMVirtualFaults inFaults_;
  TMMVirtualFaults outFaults_;
  std::atomic<double> speed_{1.0};
  std::unique_ptr<Bus> bus_;
};

}  // namespace tv
