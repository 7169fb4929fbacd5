// Fuzz target for the codec service's decoders: every input is a wave file
// (the seeds are IMA and Microsoft ADPCM files made by sox). Its format and
// data go through the conversions to the suggested PCM format and to a
// different one, whole and in pieces, and through the audio file source.
// Only the codec and wave errors may come out; the conversion must answer
// the same bytes however the data is split.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "FuzzFolder.h"
#include "MMACMCvt.h"
#include "TMMAudioFile.h"
#include "TMMWave.h"

namespace {

std::string Folder() {
  static const std::string dir = tv::fuzz::WorkFolder("adpcm");
  return dir;
}

void Convert(const tv::WAVEFORMATEX* source, const tv::WAVEFORMATEX* target, const std::vector<uint8_t>& data) {
  if (!tv::CanConvert(source, target)) return;
  auto whole = tv::OpenConversion(source, target, 4096);
  auto pieces = tv::OpenConversion(source, target, 4096);
  std::vector<uint8_t> a, b;
  whole->Convert(data, a);
  const size_t step = 1 + data.size() % 61;
  for (size_t at = 0; at < data.size(); at += step) {
    pieces->Convert(std::span<const uint8_t>(data).subspan(at, std::min(step, data.size() - at)), b);
  }
  if (a != b) __builtin_trap();
  // The fixed-buffer form never writes past its output buffer.
  auto fixed = tv::OpenConversion(source, target, 1500);
  for (size_t at = 0; at < data.size();) {
    const size_t n = std::min<size_t>(static_cast<size_t>(fixed->SourceSize()), data.size() - at);
    std::copy(data.begin() + static_cast<std::ptrdiff_t>(at), data.begin() + static_cast<std::ptrdiff_t>(at + n),
              fixed->SourceBuffer());
    const int32_t out = fixed->Convert(static_cast<int32_t>(n));
    if (out < 0 || out > fixed->OutputSize()) __builtin_trap();
    at += n;
  }
}

void Exercise(const std::string& path) {
  tv::TMMWave wave;
  wave.SetTimeFormat(tv::tfByte);
  wave.SetFileName(path);
  const tv::WAVEFORMATEX* f = wave.PWaveFormat();
  if (f == nullptr) return;
  std::vector<uint8_t> data(static_cast<size_t>(std::min<int64_t>(wave.DataSize(), 1 << 20)));
  wave.OpenFile();
  const int32_t n = wave.ReadData(data.data(), static_cast<int32_t>(data.size()));
  data.resize(static_cast<size_t>(std::max(n, 0)));
  // A file only read closes without a failure to report.
  (void)wave.CloseFile();
  (void)tv::ConversionProblem(f);
  tv::WaveFormatPtr pcm = tv::SuggestPcm(f);
  if (pcm) {
    Convert(f, pcm.get(), data);
    auto other = tv::MakePcmFormat(8, 1, 11025);
    Convert(f, other.get(), data);
  }
  tv::TMMAudioFile audio;
  try {
    audio.SetFileName(path);
  } catch (const tv::EMMAudioFileError&) {
    return;
  }
  // Only a started reader delivers the file (an idle one hands out silence).
  audio.Open();
  if (tv::TMMCustomFile* reader = audio.Reader()) {
    reader->Open();
    reader->Start();
  }
  std::vector<uint8_t> block(tv::kBufferHeaderSize + 2048);
  auto* header = reinterpret_cast<tv::TMMBufferHeader*>(block.data());
  for (int guard = 0; guard < 20000; ++guard) {
    tv::InitBufferHeader(header, 2048);
    bool more = false;
    audio.BufferLoad(header, more);
    if (header->dwBytesRecorded > 2048) __builtin_trap();
    if (!more) break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = Folder() + "/input.wav";
  if (FILE* out = std::fopen(path.c_str(), "wb")) {
    if (size > 0) std::fwrite(data, 1, size, out);
    std::fclose(out);
  } else {
    return 0;
  }
  try {
    Exercise(path);
  } catch (const tv::EMMWaveError&) {
  } catch (const tv::EMMACMError&) {
  }
  return 0;
}
