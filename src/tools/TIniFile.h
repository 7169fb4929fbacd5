// Initialization files ("[Section]" lines followed by "Key=Value" lines), as
// the settings files of the analyzer are kept.
//
// Sections and keys compare without regard to case (ASCII letters); the first
// section of a name and the first key of a name in it count. Values are
// trimmed, and one pair of enclosing double quotes is removed. Lines that are
// neither (comments after ';', text before the first section, garbage) are
// ignored on reading and kept byte for byte on writing, as is every key and
// section a write does not name.
//
// Every write goes to the file at once. The file is replaced in one step (a
// new file beside it, flushed, then renamed over it), so a failed or
// interrupted write leaves the old file as it was. A file that exists but
// cannot be read, or that is too large to be a settings file, reads as empty
// and is never written over.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tv {

// Larger files are not settings files: they read as empty.
inline constexpr std::size_t kMaxIniFileSize = 4u << 20;

// An integer as a settings file writes it: decimal with an optional sign, or
// hexadecimal after "0x" or "$". Surrounding blanks are allowed; anything
// else, or a value outside 32 bits, is no integer.
std::optional<int32_t> ParseIniInteger(std::string_view text);

// The text of an initialization file, held line by line.
class TIniText {
 public:
  TIniText() = default;
  static TIniText Parse(std::string_view bytes);

  std::optional<std::string> Find(std::string_view section, std::string_view key) const;
  bool SectionExists(std::string_view section) const;
  // Names of the keys of a section, in file order.
  std::vector<std::string> Keys(std::string_view section) const;

  // Sets a key, adding the section at the end and the key at the end of its
  // section as needed. False (and nothing changed) for a name or value that
  // cannot be stored: an empty or blank-edged name, a line break or NUL in
  // anything, '=' or a leading '[' or ';' in a key, ']' in a section name.
  bool Set(std::string_view section, std::string_view key, std::string_view value);

  std::string Text() const;

 private:
  struct Line {
    std::string text;  // without its line end
    std::string end;   // "\n", "\r\n" or "" for a last line without one
  };
  // Index of the first line of the section's body, or npos.
  std::size_t SectionBody(std::string_view section) const;
  std::string_view NewLineEnd() const;

  std::vector<Line> lines_;
};

class TIniFile {
 public:
  explicit TIniFile(std::string fileName);

  const std::string& FileName() const { return fileName_; }

  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view defaultValue) const;
  // An unparsable value reads as the default.
  int32_t ReadInteger(std::string_view section, std::string_view key, int32_t defaultValue) const;
  // An integer, true when not 0; an unparsable value reads as the default.
  bool ReadBool(std::string_view section, std::string_view key, bool defaultValue) const;
  bool SectionExists(std::string_view section) const;

  // Each returns false when the file was not changed; Error() tells why.
  bool WriteString(std::string_view section, std::string_view key, std::string_view value);
  bool WriteInteger(std::string_view section, std::string_view key, int32_t value);
  bool WriteBool(std::string_view section, std::string_view key, bool value);

  // Several writes replacing the file once: all of them land or none. The
  // edit returns false to leave the file alone.
  bool Update(const std::function<bool(TIniText&)>& edit);

  // The whole text as it stands (empty when missing or unreadable).
  TIniText Load() const;

  const std::string& Error() const { return error_; }

 private:
  enum class State { Missing, Readable, Unreadable };
  State Read(std::string& bytes, std::string* why) const;

  std::string fileName_;
  std::string error_;
};

// Replaces `path` with `bytes` in one step (a flushed sibling file renamed
// over it). On failure the old file is unchanged and `error` says why.
bool ReplaceFileContents(const std::string& path, std::string_view bytes, std::string& error);

}  // namespace tv
