// Work files of the wave tools: a result is written under a temporary name
// beside its target and takes the target's name only once it is complete,
// so that a failed or cancelled run never leaves a partial file that looks
// finished (and an older file of that name stays as it was).
#pragma once

#include <string>

namespace tv {

class TempFile {
 public:
  // Chooses a name in the target's folder that no file has yet.
  explicit TempFile(std::string target);
  // Removes the work file unless it was committed.
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  const std::string& Name() const { return name_; }
  const std::string& Target() const { return target_; }
  // Gives the work file its target's name (replacing a file of that name
  // in one step); false when that failed, and the work file is removed.
  bool Commit();
  void Discard();

 private:
  std::string target_;
  std::string name_;
  bool done_ = false;
};

// True when both names reach the same file, or would once written.
bool SameFile(const std::string& a, const std::string& b);

}  // namespace tv
