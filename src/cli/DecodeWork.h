// The files tonvista-decode writes while it prepares a recording: each run
// works in a private folder of its own (in the temporary folder, or with
// --keep a hidden one beside the source), so that an interrupted run leaves
// nothing behind, two runs on one file never share a half-written file, and
// a user's file is replaced only by a complete result, in one step.
#pragma once

#include <memory>
#include <string>

namespace tv {

class DtmfConverter;

// The folder temporary files go to: $TMPDIR when set and not empty, else
// /tmp (as mktemp chooses).
std::string TemporaryFolder();

// Makes SIGINT, SIGTERM, SIGHUP and (unless ignored) SIGPIPE empty and
// remove every work folder still open before the program ends of that signal.
void RemoveWorkFoldersOnSignal();

// A private folder "<parent>/<prefix>XXXXXX", emptied and removed with the
// object (or by the signal handlers above).
class WorkFolder {
 public:
  // Raises std::runtime_error with a one-line message naming the folder and
  // the cause when it cannot be made.
  WorkFolder(const std::string& parent, const std::string& prefix);
  ~WorkFolder();
  WorkFolder(const WorkFolder&) = delete;
  WorkFolder& operator=(const WorkFolder&) = delete;

  const std::string& Path() const { return path_; }
  // Removes the files in it (not the folder).
  void Empty();

 private:
  std::string path_;
  int slot_ = -1;
};

// Converts and normalises one recording for the scan, in a work folder of
// its own: inside `shared` (the run's temporary folder), or with `keep`
// beside the source, where the results take their names ("X_acm.wav",
// "X_acm_norm.wav") only in Keep, after the scan. The work folder goes
// with the object.
class DecodeWork {
 public:
  DecodeWork(std::string source, bool keep, const WorkFolder* shared);
  ~DecodeWork();
  DecodeWork(const DecodeWork&) = delete;
  DecodeWork& operator=(const DecodeWork&) = delete;

  // Answers the file to scan. Errors propagate with their cause.
  std::string Prepare(DtmfConverter& converter);
  // With keep: moves the results beside the source, replacing older ones.
  void Keep();

 private:
  std::string source_;
  bool keep_;
  const WorkFolder* shared_;
  std::unique_ptr<WorkFolder> own_;
  std::string converted_, normalized_;
};

}  // namespace tv
