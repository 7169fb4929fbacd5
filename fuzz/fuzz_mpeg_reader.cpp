// Fuzz target for the MPEG reader: every input is written to an ".mp3" file
// and offered to the reader the way the audio file source does (can-open,
// file information with a scan, load, decode to the end, seek). Only the
// reader's and the audio file source's errors may come out.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "FuzzFolder.h"
#include "TMMAudioFile.h"
#include "MMMPEG.h"

namespace {

std::string Folder() {
  static const std::string dir = tv::fuzz::WorkFolder("mpeg");
  return dir;
}

void Drain(tv::TMMDSPComponent& source, size_t capacity) {
  std::vector<uint8_t> block(tv::kBufferHeaderSize + capacity);
  auto* header = reinterpret_cast<tv::TMMBufferHeader*>(block.data());
  for (int guard = 0; guard < 20000; ++guard) {
    tv::InitBufferHeader(header, static_cast<uint32_t>(capacity));
    bool more = false;
    source.BufferLoad(header, more);
    if (header->dwBytesRecorded > capacity) __builtin_trap();
    if (!more) break;
  }
}

void Exercise(const std::string& path) {
  if (!tv::TMMMPEGFile::CanOpenMpegFile(path)) return;
  tv::TMMFileInfo info;
  (void)tv::TMMMPEGFile::GetMpegFileInfo(path, true, info);
  tv::TMMMPEGFile file;
  file.SetFileName(path);
  const tv::WAVEFORMATEX* f = file.PWaveFormat();
  if (f != nullptr && (f->wBitsPerSample != 16 || f->nChannels < 1 || f->nChannels > 2)) __builtin_trap();
  file.Open();
  file.Start();
  Drain(file, 4096);
  file.SetPositionMs(file.Time() / 2);
  Drain(file, 1000);
  file.SetPosition(-3);
  file.SetPosition(file.Frames() + 50);
  Drain(file, 4096);
  file.Close();

  tv::TMMAudioFile audio;
  audio.SetFileName(path);
  // Only a started reader delivers the file (an idle one hands out silence).
  audio.Open();
  if (tv::TMMCustomFile* reader = audio.Reader()) {
    reader->Open();
    reader->Start();
  }
  Drain(audio, 2048);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = Folder() + "/input.mp3";
  if (FILE* out = std::fopen(path.c_str(), "wb")) {
    if (size > 0) std::fwrite(data, 1, size, out);
    std::fclose(out);
  } else {
    return 0;
  }
  try {
    Exercise(path);
  } catch (const tv::EMMMpegError&) {
  } catch (const tv::EMMAudioFileError&) {
  }
  return 0;
}
