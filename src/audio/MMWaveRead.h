// Reading the header of a RIFF WAVE file: the chunks are visited in file
// order and the record of the file is filled from them. The sizes the file
// states are not trusted on their own; a hostile header costs bounded
// memory and time.
#pragma once

#include <string>

#include "MMWaveRiff.h"

namespace tv {

// Parses a wave file's header (the file is closed again afterwards) and
// answers one of the TMMWaveResult codes.
int ScanWaveFile(const std::string& name, WaveFileInfo& info);

}  // namespace tv
