// Names of the files the wave tools write beside their source.
#pragma once

#include <string>

namespace tv {

// The extension as the file-name rules give it: from the last dot of the
// last path component ("" when there is none).
std::string FileExtension(const std::string& name);

// B + suffix + E, where E is the extension of `name` and B the rest of
// `name` before it ("call.wav" -> "call_acm.wav"); the result stays in the
// source's folder. A name without an extension keeps all of itself as B.
std::string DerivedFileName(const std::string& name, const std::string& suffix);

}  // namespace tv
