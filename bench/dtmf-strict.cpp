// Decodes the DTMF keys of wave files with the strict detector, streaming
// each file through it, and prints "FILE: KEYS" for each; with --details
// every key follows on a line of its own with its times, channel, level,
// twist and frequencies. Used by the scoring and speed scripts.
//   dtmf-strict [--channel left|right|mix|each] [--details] FILE...
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "TMMWave.h"
#include "StrictDtmfDetector.h"

namespace {

std::vector<tv::StrictDtmfKey> Decode(const std::string& file, const tv::StrictDtmfOptions& options,
                                      int& channels) {
  tv::TMMWave wave;
  wave.SetTimeFormat(tv::tfByte);
  wave.SetFileName(file);
  const tv::WAVEFORMATEX* f = wave.PWaveFormat();
  if (f == nullptr) throw std::runtime_error("not a wave file");
  if (f->wFormatTag != tv::WAVE_FORMAT_PCM) throw std::runtime_error("not PCM audio");
  channels = f->nChannels;
  std::vector<tv::StrictDtmfKey> keys;
  tv::StrictDtmfDetector detector(options);
  detector.OnKey = [&keys](const tv::StrictDtmfKey& k) { keys.push_back(k); };
  detector.Start(static_cast<int>(f->nSamplesPerSec), f->nChannels, f->wBitsPerSample);
  std::vector<uint8_t> block(65536);
  wave.OpenFile();
  int64_t remaining = wave.DataSize();
  while (remaining > 0) {
    const int32_t n = wave.ReadData(block.data(), static_cast<int32_t>(std::min<int64_t>(remaining, 65536)));
    if (n <= 0) break;
    detector.FeedBytes(block.data(), static_cast<size_t>(n));
    remaining -= n;
  }
  (void)wave.CloseFile();  // read only
  detector.Finish();
  return keys;
}

}  // namespace

int main(int argc, char** argv) {
  tv::StrictDtmfOptions options;
  bool details = false;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--details") {
      details = true;
    } else if (a == "--channel" && i + 1 < argc) {
      if (!tv::ParseDtmfChannelChoice(argv[++i], options.channel)) {
        std::fprintf(stderr, "dtmf-strict: --channel takes left, right, mix or each\n");
        return 2;
      }
    } else if (!a.empty() && a[0] == '-') {
      std::fprintf(stderr, "usage: dtmf-strict [--channel left|right|mix|each] [--details] FILE...\n");
      return 2;
    } else {
      files.push_back(a);
    }
  }
  if (files.empty()) {
    std::fprintf(stderr, "usage: dtmf-strict [--channel left|right|mix|each] [--details] FILE...\n");
    return 2;
  }
  int status = 0;
  for (const std::string& file : files) {
    try {
      int channels = 1;
      const std::vector<tv::StrictDtmfKey> keys = Decode(file, options, channels);
      std::string text;
      for (const auto& k : keys) text += k.key;
      std::printf("%s: %s\n", file.c_str(), text.c_str());
      if (details) {
        for (const auto& k : keys) {
          std::printf("  %c %9.1f %9.1f ms  %-6s %6.1f dBFS  twist %+5.1f dB  %6.1f + %6.1f Hz\n", k.key,
                      k.startMs, k.endMs, tv::DtmfChannelName(k.channel, channels).c_str(), k.levelDb,
                      k.twistDb, k.lowHz, k.highHz);
        }
      }
    } catch (const std::exception& e) {
      std::fprintf(stderr, "dtmf-strict: %s: %s\n", file.c_str(), e.what());
      status = 1;
    }
  }
  return status;
}
