// Writes the generated DTMF corpus into a folder, with "truth.tsv" beside
// it: one line per recording, tab separated: category, file, the keys a
// receiver must report, and how the strict detector decodes it ("mix").
//   dtmf-corpus FOLDER
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>

#include "DtmfCorpus.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: dtmf-corpus FOLDER\n");
    return 2;
  }
  try {
    const std::filesystem::path folder = argv[1];
    std::filesystem::create_directories(folder);
    std::ofstream truth(folder / "truth.tsv");
    for (const tv::CorpusRecording& r : tv::MakeCorpus()) {
      tv::WriteDtmfWave((folder / r.file).string(), r.sent, r.options);
      truth << r.category << '\t' << r.file << '\t' << r.expected << "\tmix\n";
    }
    if (!truth) throw std::runtime_error("cannot write truth.tsv");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "dtmf-corpus: %s\n", e.what());
    return 1;
  }
  return 0;
}
