// Writing RIFF WAVE files: the header of a new file, and the trailing
// chunks and fixed sizes that finish a written file when it is closed.
#pragma once

#include <cstdint>

#include "MMWaveRiff.h"

namespace tv {

// Writes "RIFF"/"WAVE", the "fmt " chunk and an empty "data" chunk at the
// start of a new file and records where the data begins.
[[nodiscard]] bool WriteWaveHeader(TMMWaveIO& io, WaveFileInfo& info);

// Bytes that the chunks written after the data will take.
int64_t TrailingSize(const WaveFileInfo& info);

// Finishes a file whose data chunk was written: the pad byte, the "fact",
// "DISP" and "LIST"/"INFO" chunks after the data, the data and RIFF sizes,
// and the file cut to its new end. Data that never reached the disk is left
// out, in whole frames. Answers false when the file on disk does not hold
// everything that was written to it, or its sizes could not be fixed.
[[nodiscard]] bool FinishWaveFile(TMMWaveIO& io, WaveFileInfo& info);

}  // namespace tv
