// tonvista-decode: finds the DTMF keys in wave files from the command line,
// along the desktop program's own road: convert to 16-bit stereo 44100 Hz,
// normalise, scan.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DecodeInput.h"
#include "DecodeWork.h"
#include "DtmfConverter.h"
#include "DtmfScanner.h"
#include "MMDispatch.h"
#include "MMErrors.h"
#include "TMMWave.h"
#include "WaveNames.h"
#include "TonvistaVersion.h"

namespace fs = std::filesystem;

namespace {

void Usage(FILE* out) {
  std::fprintf(out,
               "Usage: tonvista-decode [options] FILE...\n"
               "Finds the DTMF keys in wave files and prints \"FILE: KEYS\" for each.\n"
               "\n"
               "Each file is converted to 16-bit stereo PCM at 44100 Hz, normalised to\n"
               "full scale and scanned, exactly as the Tonvista desktop program does when\n"
               "it loads a file.\n"
               "\n"
               "Options:\n"
               "  --threshold N  detection threshold, 50..525 (default 50, as the desktop\n"
               "                 program starts); higher values ignore weaker tones\n"
               "  --json         print one JSON object per line and file: the file, its\n"
               "                 keys, and for every key the position in milliseconds of\n"
               "                 the scan buffer that reported it\n"
               "  --keep         keep the converted (\"_acm\") and normalised (\"_norm\")\n"
               "                 files beside each source, as the desktop program does;\n"
               "                 without it they go to a private temporary folder that is\n"
               "                 removed\n"
               "  --help         show this help and exit\n"
               "  --version      show the version and exit\n"
               "\n"
               "Exit status: 0 when every file decoded, 1 when a file could not be\n"
               "decoded (the reason goes to standard error; the other files are still\n"
               "decoded), 2 for a usage error.\n");
}

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

// Why a file cannot be decoded, or nothing when it looks decodable. A wave
// file whose data stops short of its announced size (a recorder that
// crashed) is decoded as far as it goes: `truncated` then says how short.
std::optional<std::string> CheckInput(const std::string& file, std::string& truncated) {
  struct stat st {};
  if (stat(file.c_str(), &st) != 0) {
    return errno == ENOENT ? "no such file" : std::string("cannot be read: ") + std::strerror(errno);
  }
  if (S_ISDIR(st.st_mode)) return "is a folder, not a wave file";
  if (!S_ISREG(st.st_mode)) return "is not a regular file";
  if (access(file.c_str(), R_OK) != 0) {
    return std::string("cannot be read: ") + std::strerror(errno);
  }
  tv::WaveFileInfo info;
  const bool wave = tv::ScanWaveFile(file, info) == 0 && info.Format;
  if (auto why = tv::DecodableAudioProblem(file)) {
    if (!wave && tv::FileExtension(file).size() == 4 && strcasecmp(tv::FileExtension(file).c_str(), ".wav") == 0) {
      return "not a wave file";
    }
    const tv::WAVEFORMATEX* f = wave ? info.Format.get() : nullptr;
    if (f != nullptr && f->wFormatTag == tv::WAVE_FORMAT_PCM && !tv::PcmFormatSupported(f)) {
      return "unsupported PCM format (" + std::to_string(f->wBitsPerSample) + " bits, " +
             std::to_string(f->nChannels) + " channels, " + std::to_string(f->nSamplesPerSec) +
             " Hz); 8 or 16 bits, 1, 2 or 4 channels, 4000..100000 Hz are supported";
    }
    return why;
  }
  if (!wave) return std::nullopt;  // MP3, FLAC, Ogg: their readers judge them
  const int64_t claimed = info.ckData.cksize;
  const int64_t available = int64_t{st.st_size} - info.ckData.dwDataOffset;
  if (info.dwDataBytes <= 0) return "holds no audio data";
  // 0 and 0xFFFFFFFF are what unfinished or streaming writers leave.
  if (claimed != 0 && claimed != 0xFFFFFFFF && claimed > available) {
    truncated = "truncated: the data chunk announces " + std::to_string(claimed) +
                " bytes, the file holds " + std::to_string(available < 0 ? 0 : available) +
                "; decoded as far as it goes";
  }
  return std::nullopt;
}

struct Options {
  int threshold = 50;
  bool json = false;
  bool keep = false;
  std::vector<std::string> files;
};

// Answers the exit status for a usage error, or -1 to go on.
int ParseArguments(int argc, char** argv, Options& o) {
  bool filesOnly = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (filesOnly || a.empty() || a[0] != '-' || a == "-") {
      o.files.push_back(a);
    } else if (a == "--") {
      filesOnly = true;
    } else if (a == "--help" || a == "-h") {
      Usage(stdout);
      return 0;
    } else if (a == "--version") {
      std::printf("tonvista-decode %s\n", TONVISTA_VERSION);
      return 0;
    } else if (a == "--json") {
      o.json = true;
    } else if (a == "--keep") {
      o.keep = true;
    } else if (a == "--threshold" || a.rfind("--threshold=", 0) == 0) {
      std::string value;
      if (a == "--threshold") {
        if (i + 1 >= argc) {
          std::fprintf(stderr, "tonvista-decode: --threshold needs a value (50..525)\n");
          return 2;
        }
        value = argv[++i];
      } else {
        value = a.substr(12);
      }
      char* end = nullptr;
      errno = 0;
      const long n = std::strtol(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0' || errno != 0 || n < 50 || n > 525) {
        std::fprintf(stderr, "tonvista-decode: threshold must be a whole number from 50 to 525, not \"%s\"\n",
                     value.c_str());
        return 2;
      }
      o.threshold = static_cast<int>(n);
    } else {
      std::fprintf(stderr, "tonvista-decode: unknown option %s (try --help)\n", a.c_str());
      return 2;
    }
  }
  if (o.files.empty()) {
    std::fprintf(stderr, "tonvista-decode: no wave file given (try --help)\n");
    return 2;
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (const int status = ParseArguments(argc, argv, options); status >= 0) return status;

  tv::LoopDispatcher loop;
  tv::SetMainDispatcher(&loop);
  tv::SetApplicationErrorHandler([](const std::string& message) {
    std::fprintf(stderr, "tonvista-decode: %s\n", tv::OneLineMessage(message).c_str());
  });

  tv::RemoveWorkFoldersOnSignal();
  std::unique_ptr<tv::WorkFolder> tempDir;
  if (!options.keep) {
    try {
      tempDir = std::make_unique<tv::WorkFolder>(tv::TemporaryFolder(), "tonvista-decode-");
    } catch (const std::exception& e) {
      const char* set = std::getenv("TMPDIR");
      std::fprintf(stderr, "tonvista-decode: no temporary folder: %s%s\n", e.what(),
                   set != nullptr && set[0] != '\0' ? " (named by TMPDIR)" : "");
      return 1;
    }
  }

  int status = 0;
  tv::DtmfScanner scanner;
  scanner.SetThreshold(options.threshold);
  scanner.SetPaced(false);
  for (const std::string& file : options.files) {
    std::string problem;
    std::string truncated;
    tv::ScanResult result;
    if (auto why = CheckInput(file, truncated)) {
      problem = *why;
    } else {
      if (!truncated.empty()) std::fprintf(stderr, "tonvista-decode: %s: warning: %s\n", file.c_str(), truncated.c_str());
      try {
        tv::DtmfConverter converter;
        tv::DecodeWork work(file, options.keep, tempDir.get());
        result = scanner.Scan(work.Prepare(converter));
        if (!result.error) work.Keep();
      } catch (const std::exception& e) {
        problem = tv::OneLineMessage(e.what());
      }
    }
    if (!problem.empty()) {
      status = 1;
      std::fprintf(stderr, "tonvista-decode: %s: %s\n", file.c_str(), problem.c_str());
      if (options.json) {
        std::printf("{\"file\": %s, \"error\": %s}\n", JsonString(file).c_str(),
                    JsonString(problem).c_str());
      }
    } else if (options.json) {
      std::string keys;
      for (size_t i = 0; i < result.events.size(); ++i) {
        if (i > 0) keys += ", ";
        keys += "{\"key\": " + JsonString(result.events[i].key) +
                ", \"ms\": " + std::to_string(result.events[i].positionMs) + "}";
      }
      std::printf("{\"file\": %s, \"keys\": %s, \"positions\": [%s]%s}\n", JsonString(file).c_str(),
                  JsonString(result.keys).c_str(), keys.c_str(),
                  truncated.empty() ? "" : ", \"truncated\": true");
    } else {
      std::printf("%s: %s\n", file.c_str(), result.keys.c_str());
    }
    std::fflush(stdout);
  }
  tempDir.reset();
  tv::SetMainDispatcher(nullptr);
  return status;
}
