// Converting a wave file to another PCM format: frames are converted between
// mono and stereo and between 8 and 16 bits, and the sample rate is changed
// by holding or dropping whole frames.
#pragma once

#include <string>

#include "MMPCMSup.h"

namespace tv {

class TMMWave;

// Writes the whole of `source` converted to `format` into the file `name`,
// one second of source audio per block, through a temporary file in the
// target's folder that takes the final name only once it is complete. Fires
// the source's OnProgress after each block; a progress handler that sets
// Cancel aborts. Errors (EMMWaveError): "Invalid param passed!", "This wave
// file is not valid for conversion", "Unable to convert wave file",
// "Conversion aborted".
void ConvertWaveFile(TMMWave& source, const std::string& name, const WAVEFORMATEX* format);

}  // namespace tv
