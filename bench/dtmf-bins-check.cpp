// Checks that the described scan decides the same keys from the bins it
// computes itself as from the peak detector's whole transform: each wave
// file is converted and normalised as a load does (in a temporary folder),
// then scanned both ways at every threshold from 50 to 525 in steps of 25.
// Prints one line per file and threshold that differs, then a summary; the
// exit status is 1 when a threshold from 100 up differs.
//   dtmf-bins-check FILE...
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>

#include "DtmfConverter.h"
#include "DtmfScanner.h"
#include "MMDispatch.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: dtmf-bins-check FILE...\n");
    return 2;
  }
  tv::LoopDispatcher loop;
  tv::SetMainDispatcher(&loop);
  std::string pattern = (std::filesystem::temp_directory_path() / "dtmf-bins-check-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    std::perror("dtmf-bins-check: temporary folder");
    return 1;
  }
  int compared = 0, differ50 = 0, differAbove = 0, failed = 0;
  {
    tv::DtmfScanner full, bins;
    full.SetPaced(false);
    bins.SetPaced(false);
    bins.SetDecisionBinsOnly(true);
    for (int i = 1; i < argc; ++i) {
      try {
        tv::DtmfConverter converter;
        converter.SetOutputFolder(pattern);
        const std::string converted = converter.ConvertForDtmf(argv[i]);
        const std::string normalized = converter.NormalizeFile(converted);
        for (int threshold = 50; threshold <= 525; threshold += 25) {
          full.SetThreshold(threshold);
          bins.SetThreshold(threshold);
          const std::string a = full.Scan(normalized).keys;
          const std::string b = bins.Scan(normalized).keys;
          ++compared;
          if (a != b) {
            (threshold < 100 ? differ50 : differAbove) += 1;
            std::printf("%s at %d: transform \"%s\", decision bins \"%s\"\n", argv[i], threshold, a.c_str(),
                        b.c_str());
          }
        }
        std::filesystem::remove(converted);
        if (normalized != converted) std::filesystem::remove(normalized);
      } catch (const std::exception& e) {
        std::fprintf(stderr, "dtmf-bins-check: %s: %s\n", argv[i], e.what());
        ++failed;
      }
    }
  }
  std::filesystem::remove_all(pattern);
  tv::SetMainDispatcher(nullptr);
  std::printf("%d files, %d scans compared: %d differ at 100..525, %d at 50; %d files failed\n", argc - 1 - failed,
              compared, differAbove, differ50, failed);
  return differAbove > 0 || failed > 0 ? 1 : 0;
}
