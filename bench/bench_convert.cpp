// Speed of converting a wave file, against copying a file of the output's
// size on the same disk. Prints MB/s of output and the time ratio for
//   10 min of 8 kHz 16-bit mono  -> 44.1 kHz 16-bit stereo
//   10 min of 44.1 kHz 16-bit stereo -> the same format
// once with the page cache only and once with every output forced to disk.
//
//   bench_convert [folder]    (default: a new folder in the temporary folder)
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "TMMWave.h"

namespace {

using Clock = std::chrono::steady_clock;

void MakeSource(const std::string& path, int channels, int rate, int seconds) {
  auto f = tv::MakePcmFormat(16, channels, rate);
  tv::TMMWave wave;
  wave.CreateFile(path, f.get());
  std::vector<int16_t> block(static_cast<size_t>(rate) * channels);
  double phase = 0;
  for (int s = 0; s < seconds; ++s) {
    for (size_t i = 0; i < block.size(); i += static_cast<size_t>(channels)) {
      const auto v = static_cast<int16_t>(12000 * std::sin(phase));
      phase += 2 * std::numbers::pi * 697.0 / rate;
      for (int c = 0; c < channels; ++c) block[i + static_cast<size_t>(c)] = v;
    }
    if (wave.WriteData(block.data(), static_cast<int32_t>(block.size() * 2)) <= 0) std::abort();
  }
  if (!wave.CloseFile()) std::abort();
}

void SyncFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

// A plain user-space copy with a 1 MiB buffer.
void CopyFile(const std::string& from, const std::string& to, bool sync) {
  const int in = ::open(from.c_str(), O_RDONLY);
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<char> buf(1 << 20);
  for (;;) {
    const ssize_t n = ::read(in, buf.data(), buf.size());
    if (n <= 0) break;
    if (::write(out, buf.data(), static_cast<size_t>(n)) != n) break;
  }
  if (sync) ::fsync(out);
  ::close(in);
  ::close(out);
}

double Best(int runs, const std::function<void()>& job) {
  double best = 1e30;
  for (int i = 0; i < runs; ++i) {
    const auto t0 = Clock::now();
    job();
    best = std::min(best, std::chrono::duration<double>(Clock::now() - t0).count());
  }
  return best;
}

void Case(const std::string& dir, const std::string& name, const std::string& source, int toChannels,
          int toRate, bool sync) {
  const std::string target = dir + "/" + name + "_out.wav";
  const std::string copy = dir + "/" + name + "_copy.wav";
  auto format = tv::MakePcmFormat(16, toChannels, toRate);
  tv::TMMWave wave;
  wave.SetFileName(source);
  const double convert = Best(3, [&] {
    wave.ConvertFile(target, format.get());
    if (sync) SyncFile(target);
  });
  const double bytes = static_cast<double>(std::filesystem::file_size(target));
  const double copying = Best(3, [&] { CopyFile(target, copy, sync); });
  std::printf("%-32s %-10s output %7.1f MB  convert %7.3f s  %8.1f MB/s  copy %7.3f s  ratio %5.2f\n",
              name.c_str(), sync ? "to disk" : "cached", bytes / 1e6, convert, bytes / 1e6 / convert,
              copying, convert / copying);
  std::filesystem::remove(copy);
}

}  // namespace

int main(int argc, char** argv) {
  std::filesystem::path dir;
  if (argc > 1) {
    dir = argv[1];
    std::filesystem::create_directories(dir);
  } else {
    dir = std::filesystem::temp_directory_path() / ("tonvista-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directory(dir);
  }
  const std::string mono8k = (dir / "mono8k.wav").string();
  const std::string stereo44 = (dir / "stereo44.wav").string();
  MakeSource(mono8k, 1, 8000, 600);
  MakeSource(stereo44, 2, 44100, 600);
  for (bool sync : {false, true}) {
    Case(dir.string(), "8k16 mono -> 44k1 16 stereo", mono8k, 2, 44100, sync);
    Case(dir.string(), "44k1 16 stereo -> same", stereo44, 2, 44100, sync);
  }
  if (argc <= 1) std::filesystem::remove_all(dir);
  return 0;
}
