// Fuzz target for the wave loader: every input is written to a file and
// loaded, read to the end, positioned, appended to and converted. Only the
// wave errors may come out; anything else (a crash, a leak, undefined
// behaviour, another exception) is a finding.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "FuzzFolder.h"
#include "TMMAudioFile.h"
#include "TMMWave.h"
#include "TMMWaveFile.h"

namespace {

std::string Folder() {
  static const std::string dir = tv::fuzz::WorkFolder("wave");
  return dir;
}

void Exercise(const std::string& path) {
  tv::TMMWave wave;
  wave.SetFileName(path);
  for (tv::TMMTimeFormats tf : {tv::tfByte, tv::tfMillisecond, tv::tfSample}) {
    wave.SetTimeFormat(tf);
    (void)wave.DataSize();
  }
  wave.SetTimeFormat(tv::tfSample);
  wave.OpenFile();
  std::vector<uint8_t> buf(777);
  int guard = 0;
  while (wave.ReadData(buf.data(), static_cast<int32_t>(buf.size())) > 0 && ++guard < 100000) {
  }
  wave.SetPosition(wave.DataSize() / 2);
  (void)wave.ReadData(buf.data(), 3);
  wave.SetPosition(-5);
  wave.SetPosition(wave.DataSize() + 100);
  (void)wave.CloseFile();  // only read

  // The audio file source asks its readers and builds its inner chain.
  {
    tv::TMMAudioFile audio;
    try {
      audio.SetFileName(path);
    } catch (const tv::EMMAudioFileError&) {
    }
    std::vector<uint8_t> block(tv::kBufferHeaderSize + 512);
    auto* header = reinterpret_cast<tv::TMMBufferHeader*>(block.data());
    tv::InitBufferHeader(header, 512);
    bool more = false;
    audio.BufferLoad(header, more);
  }

  tv::TMMWaveFile file;
  tv::TMMFileInfo info;
  (void)file.GetFileInfo(path, info);
  (void)tv::TMMCustomWaveFile::CanOpenWaveFile(path);

  // Append a few frames and load the result again: the close path rewrites
  // the header and trailing chunks of whatever the input was.
  if (wave.PWaveFormat() != nullptr && wave.PWaveFormat()->nBlockAlign <= 64) {
    wave.OpenFile();
    wave.SeekToEnd();
    const std::vector<uint8_t> frames(static_cast<size_t>(wave.PWaveFormat()->nBlockAlign) * 3, 0x55);
    (void)wave.WriteData(frames.data(), static_cast<int32_t>(frames.size()));
    // Whether the append fit is the input's business; what the file holds
    // afterwards is checked below.
    (void)wave.CloseFile();
    tv::TMMWave again;
    again.SetFileName(path);
    // Appending must neither lose data nor take other bytes for data.
    if (again.TotalSamples() != wave.TotalSamples()) __builtin_trap();
  }

  if (tv::PcmFormatSupported(wave.PWaveFormat()) && wave.TotalSamples() < 20000) {
    const int rates[] = {8000, 44100};
    auto target = tv::MakePcmFormat(16, 2, rates[wave.TotalSamples() % 2]);
    wave.ConvertFile(path + ".conv.wav", target.get());
    tv::TMMWave converted;
    converted.SetFileName(path + ".conv.wav");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = Folder() + "/input.wav";
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    if (size > 0) std::fwrite(data, 1, size, f);
    std::fclose(f);
  } else {
    return 0;
  }
  try {
    Exercise(path);
  } catch (const tv::EMMError&) {
    // Clear errors are the expected answer to bad files.
  }
  std::error_code ec;
  std::filesystem::remove(path + ".conv.wav", ec);
  return 0;
}
