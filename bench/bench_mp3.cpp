// Timed harness for bench/mp3-bench: converts an MP3 file into a wave file
// with the MP3 to wave conversion of the desktop program (audio file source,
// offline driver, wave file writer) and prints the wall time.
//   bench_mp3 IN.mp3 OUT.wav
#include <chrono>
#include <cstdio>
#include <exception>

#include "AudioFileConverter.h"
#include "MMDispatch.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: bench_mp3 IN.mp3 OUT.wav\n");
    return 2;
  }
  tv::LoopDispatcher loop;
  tv::SetMainDispatcher(&loop);
  int status = 0;
  try {
    const auto t0 = std::chrono::steady_clock::now();
    tv::AudioFileConverter converter;
    converter.Load(argv[1]);
    converter.Convert(argv[2]);
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - t0;
    std::printf("%.3f\n", wall.count());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_mp3: %s\n", e.what());
    status = 1;
  }
  tv::SetMainDispatcher(nullptr);
  return status;
}
