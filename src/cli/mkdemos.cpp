// Writes the demonstration recordings listed in the demo table into a folder.
//   tonvista-mkdemos TABLE FOLDER
#include <cstdio>
#include <exception>
#include <filesystem>

#include "DtmfSynth.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: tonvista-mkdemos TABLE FOLDER\n");
    return 2;
  }
  try {
    const std::filesystem::path folder = argv[2];
    std::filesystem::create_directories(folder);
    for (const tv::DemoRecording& demo : tv::ReadDemoTable(argv[1])) {
      tv::WriteDtmfWave((folder / demo.file).string(), demo.keys, demo.options);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tonvista-mkdemos: %s\n", e.what());
    return 1;
  }
  return 0;
}
