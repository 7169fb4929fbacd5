// The sixteen DTMF keys: their characters and the tone pair of each.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace tv {

// Column (high group) frequencies first, then the rows (low group): the
// order of the frequency dialog's edits n1..n8.
inline constexpr std::array<int32_t, 4> kStandardColumnFreq = {1209, 1336, 1477, 1633};
inline constexpr std::array<int32_t, 4> kStandardRowFreq = {697, 770, 852, 941};

struct DtmfKey {
  char character;
  int column;  // 0-based index into the column frequencies
  int row;     // 0-based index into the row frequencies
};

// Indexed by key index: "0" to "9", "*", "#", "A" to "D".
inline constexpr std::array<DtmfKey, 16> kDtmfKeys = {{
    {'0', 1, 3}, {'1', 0, 0}, {'2', 1, 0}, {'3', 2, 0}, {'4', 0, 1}, {'5', 1, 1},
    {'6', 2, 1}, {'7', 0, 2}, {'8', 1, 2}, {'9', 2, 2}, {'*', 0, 3}, {'#', 2, 3},
    {'A', 3, 0}, {'B', 3, 1}, {'C', 3, 2}, {'D', 3, 3},
}};

// Key index of a character (digits, '*', '#', 'A'-'D' in either case), or -1.
int DtmfKeyIndex(char c);

// The characters appended for each key index, as the decoder fills them.
std::array<std::string, 16> StandardKeyChars();

}  // namespace tv
