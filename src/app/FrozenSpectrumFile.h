// Frozen-spectrum files (".sav"): a spectrum's levels as plain text, one
// decimal integer per line, bin 0 first, lines ended by CR LF, nothing else.
// The number of lines is the only trace of the transform length: a
// 1024-point spectrum gives 512 lines. The spectrum writes them itself
// (TMMSpectrumCalc::SaveLevels); this reader checks a file in full before
// anyone's levels change, so a bad file never leaves half a spectrum behind.
#pragma once

#include <QString>
#include <cstdint>
#include <vector>

namespace tv {

// Reads every level of the file. False, with the reason in `error`, for a
// file that cannot be read, is empty, has a line that is not an integer
// (an empty line included) or has more lines than a spectrum has bins.
bool ReadFrozenLevels(const QString& path, std::vector<int32_t>& levels, QString* error);

// The transform length whose spectrum has `count` bins (count * 2, a power
// of two from 8 to 4096), or 0 when no spectrum has that many.
int32_t FFTLengthOfLevels(size_t count);

// The message shown when a background or a printed page cannot be made
// from a file.
QString IncompatibleBackgroundMessage();
QString IncompatiblePrintMessage();

// Moves `from` to `to`, replacing a file of that name. Across file systems
// the file is copied beside the target first, so the target is replaced in
// one step or not at all. False, with the reason, when that cannot be done;
// an earlier `to` is then as it was.
bool MoveFileReplacing(const QString& from, const QString& to, QString* error);

}  // namespace tv
