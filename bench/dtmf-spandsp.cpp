// Decodes the DTMF keys of 8000 Hz 16-bit mono wave files with spandsp's
// dtmf_rx, at its default settings, and prints "FILE: KEYS" for each: the
// peer that the scoring and speed scripts compare our detectors with.
//   dtmf-spandsp FILE...
#include <spandsp.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "TMMWave.h"

namespace {

void CollectDigits(void* user, const char* digits, int len) {
  static_cast<std::string*>(user)->append(digits, static_cast<size_t>(len));
}

std::string Decode(const std::string& file) {
  tv::TMMWave wave;
  wave.SetTimeFormat(tv::tfByte);
  wave.SetFileName(file);
  const tv::WAVEFORMATEX* f = wave.PWaveFormat();
  if (f == nullptr || f->wFormatTag != tv::WAVE_FORMAT_PCM || f->nSamplesPerSec != 8000 ||
      f->wBitsPerSample != 16 || f->nChannels != 1) {
    throw std::runtime_error("needs 8000 Hz 16-bit mono PCM");
  }
  std::string keys;
  dtmf_rx_state_t* rx = dtmf_rx_init(nullptr, CollectDigits, &keys);
  if (rx == nullptr) throw std::runtime_error("dtmf_rx_init failed");
  std::vector<int16_t> block(8000);
  wave.OpenFile();
  for (;;) {
    const int32_t n = wave.ReadData(block.data(), static_cast<int32_t>(block.size() * 2));
    if (n <= 0) break;
    dtmf_rx(rx, block.data(), n / 2);
  }
  (void)wave.CloseFile();  // read only
  dtmf_rx_free(rx);
  return keys;
}

}  // namespace

int main(int argc, char** argv) {
  int status = 0;
  for (int i = 1; i < argc; ++i) {
    try {
      const std::string keys = Decode(argv[i]);
      std::printf("%s: %s\n", argv[i], keys.c_str());
    } catch (const std::exception& e) {
      std::fprintf(stderr, "dtmf-spandsp: %s: %s\n", argv[i], e.what());
      status = 1;
    }
  }
  return argc < 2 ? 2 : status;
}
