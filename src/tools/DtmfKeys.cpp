#include "DtmfKeys.h"

#include <cctype>

namespace tv {

int DtmfKeyIndex(char c) {
  const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (size_t i = 0; i < kDtmfKeys.size(); ++i) {
    if (kDtmfKeys[i].character == upper) return static_cast<int>(i);
  }
  return -1;
}

std::array<std::string, 16> StandardKeyChars() {
  std::array<std::string, 16> chars;
  for (int i = 1; i <= 9; ++i) chars[static_cast<size_t>(i)] = std::to_string(i);
  chars[0] = "0";
  chars[10] = "*";
  chars[11] = "#";
  for (int i = 12; i <= 15; ++i) chars[static_cast<size_t>(i)] = std::string(1, static_cast<char>('A' + i - 12));
  return chars;
}

}  // namespace tv
