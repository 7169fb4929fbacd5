// Enumerations shared across the audio, analysis and application layers.
// Windows and settings files store them by ordinal, so the order is fixed.
#pragma once

namespace tv {

enum TMMTimeFormats { tfMillisecond = 0, tfByte = 1, tfSample = 2 };

enum TMMFFTWindow {
  fwRectangular = 0,
  fwHamming,
  fwHanning,
  fwBlackman,
  fwGaussian,
  fwWelch,
  fwParzen
};

enum TMMChannel { chBoth = 0, chLeft, chRight };

enum TMMDecayMode { dmNone = 0, dmStepUp, dmExponential, dmUniform };

enum TMMMode { mMono = 0, mStereo, mMultiChannel };

enum TMMBits { b8Bit = 0, b16Bit };

enum TMMCBMode { cmWindow = 0, cmCallback, cmThread };

using TMMDeviceId = int;
constexpr TMMDeviceId MapperId = -1;
constexpr TMMDeviceId InvalidId = -2;

}  // namespace tv
