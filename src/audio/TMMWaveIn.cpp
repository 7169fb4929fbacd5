#include "TMMWaveIn.h"

namespace tv {

TMMWaveIn::TMMWaveIn(std::string name) : TMMWaveIn(std::move(name), SystemWaveDevices()) {}

TMMWaveIn::TMMWaveIn(std::string name, TMMWaveDevices& devices)
    : TMMCustomWaveIn(std::move(name)), bound_(&devices) {
  InitDevices();
}

TMMWaveIn::~TMMWaveIn() = default;

int TMMWaveIn::DeviceCount() {
  return static_cast<int>(SystemWaveDevices().waveInGetNumDevs());
}

std::string TMMWaveIn::DeviceName(TMMDeviceId id) {
  TMMWaveDevices& devices = SystemWaveDevices();
  if (id < -1 || id >= static_cast<TMMDeviceId>(devices.waveInGetNumDevs())) return {};
  TMMWaveCaps caps;
  if (devices.waveInGetDevCapsA(id, caps) != MMSYSERR_NOERROR) return {};
  return caps.ProductName;
}

}  // namespace tv
