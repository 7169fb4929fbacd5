#include "TempFile.h"

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <random>

namespace tv {

namespace fs = std::filesystem;

TempFile::TempFile(std::string target) : target_(std::move(target)) {
  static std::atomic<unsigned> counter{0};
  const fs::path t(target_);
  fs::path dir = t.parent_path();
  if (dir.empty()) dir = ".";
  std::random_device rd;
  for (int attempt = 0;; ++attempt) {
    const std::string leaf = "." + t.filename().string() + "." + std::to_string(::getpid()) + "-" +
                             std::to_string(counter.fetch_add(1)) + "-" + std::to_string(rd() % 100000) +
                             ".part";
    const fs::path candidate = dir / leaf;
    std::error_code ec;
    if (!fs::exists(candidate, ec) || attempt > 100) {
      name_ = candidate.string();
      break;
    }
  }
}

TempFile::~TempFile() { Discard(); }

bool TempFile::Commit() {
  if (done_) return false;
  std::error_code ec;
  fs::rename(name_, target_, ec);
  if (ec) {
    Discard();
    return false;
  }
  done_ = true;
  return true;
}

void TempFile::Discard() {
  if (done_) return;
  done_ = true;
  std::error_code ec;
  fs::remove(name_, ec);
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  if (fs::exists(a, ec) && fs::exists(b, ec)) return fs::equivalent(a, b, ec);
  const fs::path pa = fs::weakly_canonical(fs::absolute(a, ec), ec);
  const fs::path pb = fs::weakly_canonical(fs::absolute(b, ec), ec);
  return pa == pb;
}

}  // namespace tv
