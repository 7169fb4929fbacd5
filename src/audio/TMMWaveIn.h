// The wave input bound to the system's devices (SystemWaveDevices): the
// sound system's inputs, then the virtual ones when they are enabled.
#pragma once

#include <string>

#include "TMMCustomWaveIn.h"

namespace tv {

class TMMWaveIn : public TMMCustomWaveIn {
 public:
  explicit TMMWaveIn(std::string name = {});
  // Bound to another device table (tests, tools).
  TMMWaveIn(std::string name, TMMWaveDevices& devices);
  ~TMMWaveIn() override;

  // The input devices as the device dialog lists them: DeviceName(-1) is
  // the default device, then 0 .. DeviceCount()-1. An empty name for an id
  // out of range.
  static int DeviceCount();
  static std::string DeviceName(TMMDeviceId id);

 protected:
  TMMWaveDevices& BindDeviceFunctions() override { return *bound_; }

 private:
  TMMWaveDevices* bound_;
};

}  // namespace tv
