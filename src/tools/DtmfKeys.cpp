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
  // Digits 1..9 carry their own index, 0 is "0", then "*", "#", "A".."D".
  std::array<std::string, 16> chars;
  for (size_t i = 0; i < chars.size(); ++i) chars[i] = std::string(1, kDtmfKeys[i].character);
  return chars;
}

}  // namespace tv
