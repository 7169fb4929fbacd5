// What a connector feeds: a display that takes the passing audio chunk by
// chunk. The computing halves of the displays implement it (no Qt); their
// widgets repaint when told that new data arrived.
//
// All calls come from the main thread. FeedPCM gets the address of exactly
// FrameBytes() bytes in the format last given to AssignFormat.
#pragma once

#include <cstdint>

#include "MMPCMSup.h"

namespace tv {

class TMMDisplay {
 public:
  virtual ~TMMDisplay() = default;

  // Takes the stream's format; raises the display's error ("Invalid
  // WaveFormat") for a format it cannot show. Null clears the format.
  virtual void AssignFormat(const WAVEFORMATEX* format) = 0;
  // Bytes consumed per FeedPCM call for the current format and settings.
  virtual int32_t FrameBytes() const = 0;
  virtual void FeedPCM(const void* data) = 0;
  // The stream stopped: show the empty display.
  virtual void ResetDisplay() = 0;

  // Oscilloscopes report how they read the stream; the connector advances
  // its read position by a quarter of the FFT length when accelerated.
  virtual bool Scrolling() const { return false; }
  virtual bool Accelerated() const { return false; }
  virtual int32_t FFTLength() const { return 0; }
};

}  // namespace tv
