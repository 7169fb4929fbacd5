// Little-endian loads and stores. RIFF headers and PCM samples are
// little-endian whatever the machine; everything that takes numbers apart
// byte by byte goes through these.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace tv {

inline uint16_t LoadLE16(const void* p) {
  uint16_t v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap16(v);
  return v;
}

inline int16_t LoadLE16s(const void* p) { return static_cast<int16_t>(LoadLE16(p)); }

inline uint32_t LoadLE32(const void* p) {
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
  return v;
}

inline void StoreLE16(void* p, uint16_t v) {
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap16(v);
  std::memcpy(p, &v, sizeof v);
}

inline void StoreLE32(void* p, uint32_t v) {
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
  std::memcpy(p, &v, sizeof v);
}

}  // namespace tv
