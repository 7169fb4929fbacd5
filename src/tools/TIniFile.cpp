#include "TIniFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace tv {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

// The section name of a "[Name]" line; a missing ']' ends the name at the
// line's end.
std::optional<std::string_view> SectionOf(std::string_view line) {
  line = Trim(line);
  if (line.empty() || line.front() != '[') return std::nullopt;
  line.remove_prefix(1);
  const auto close = line.find(']');
  if (close != std::string_view::npos) line = line.substr(0, close);
  return Trim(line);
}

struct KeyValue {
  std::string_view key;
  std::string_view value;
};

std::optional<KeyValue> KeyOf(std::string_view line) {
  line = Trim(line);
  if (line.empty() || line.front() == ';' || line.front() == '[') return std::nullopt;
  const auto eq = line.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  KeyValue kv{Trim(line.substr(0, eq)), Trim(line.substr(eq + 1))};
  if (kv.value.size() >= 2 && kv.value.front() == '"' && kv.value.back() == '"') {
    kv.value = kv.value.substr(1, kv.value.size() - 2);
  }
  return kv;
}

bool HasBreak(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool GoodName(std::string_view s) {
  return !s.empty() && !HasBreak(s) && !IsBlank(s.front()) && !IsBlank(s.back());
}

std::string ErrnoText(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

std::optional<int32_t> ParseIniInteger(std::string_view text) {
  text = Trim(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  int base = 10;
  if (text.size() > 1 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  } else if (!text.empty() && text.front() == '$') {
    base = 16;
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  // Hexadecimal spells the 32 bits ("$FFFFFFFF" is -1); decimal the value.
  const uint64_t limit = base == 16 ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
  uint64_t value = 0;
  for (char c : text) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (base == 16 && Lower(c) >= 'a' && Lower(c) <= 'f') {
      digit = Lower(c) - 'a' + 10;
    } else {
      return std::nullopt;
    }
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    if (value > limit) return std::nullopt;
  }
  auto bits = static_cast<uint32_t>(value);
  if (negative) bits = ~bits + 1u;
  return static_cast<int32_t>(bits);
}

// --- TIniText ---------------------------------------------------------------

TIniText TIniText::Parse(std::string_view bytes) {
  TIniText t;
  std::size_t at = 0;
  while (at < bytes.size()) {
    const auto nl = bytes.find('\n', at);
    Line line;
    if (nl == std::string_view::npos) {
      line.text.assign(bytes.substr(at));
      at = bytes.size();
    } else {
      std::size_t end = nl;
      if (end > at && bytes[end - 1] == '\r') {
        --end;
        line.end = "\r\n";
      } else {
        line.end = "\n";
      }
      line.text.assign(bytes.substr(at, end - at));
      at = nl + 1;
    }
    t.lines_.push_back(std::move(line));
  }
  return t;
}

std::size_t TIniText::SectionBody(std::string_view section) const {
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    const auto name = SectionOf(lines_[i].text);
    if (name && SameName(*name, section)) return i + 1;
  }
  return std::string::npos;
}

std::optional<std::string> TIniText::Find(std::string_view section, std::string_view key) const {
  const auto body = SectionBody(section);
  if (body == std::string::npos) return std::nullopt;
  for (std::size_t i = body; i < lines_.size(); ++i) {
    if (SectionOf(lines_[i].text)) break;
    const auto kv = KeyOf(lines_[i].text);
    if (kv && SameName(kv->key, key)) return std::string(kv->value);
  }
  return std::nullopt;
}

bool TIniText::SectionExists(std::string_view section) const {
  return SectionBody(section) != std::string::npos;
}

std::vector<std::string> TIniText::Keys(std::string_view section) const {
  std::vector<std::string> keys;
  const auto body = SectionBody(section);
  if (body == std::string::npos) return keys;
  for (std::size_t i = body; i < lines_.size(); ++i) {
    if (SectionOf(lines_[i].text)) break;
    if (const auto kv = KeyOf(lines_[i].text)) keys.emplace_back(kv->key);
  }
  return keys;
}

std::string_view TIniText::NewLineEnd() const {
  // Follow the file: a file written with CR LF keeps getting CR LF.
  for (const Line& l : lines_) {
    if (!l.end.empty()) return l.end;
  }
  return "\n";
}

bool TIniText::Set(std::string_view section, std::string_view key, std::string_view value) {
  if (!GoodName(section) || section.front() == '[' || section.find(']') != std::string_view::npos) {
    return false;
  }
  if (!GoodName(key) || key.front() == '[' || key.front() == ';' ||
      key.find('=') != std::string_view::npos) {
    return false;
  }
  if (HasBreak(value)) return false;

  std::string entry(key);
  entry += '=';
  // Quotes keep what reading would otherwise trim or unwrap.
  const bool quote = !value.empty() && (IsBlank(value.front()) || IsBlank(value.back()) ||
                                        (value.size() >= 2 && value.front() == '"' &&
                                         value.back() == '"'));
  if (quote) entry += '"';
  entry += value;
  if (quote) entry += '"';

  const std::string eol(NewLineEnd());
  const auto body = SectionBody(section);
  if (body == std::string::npos) {
    if (!lines_.empty() && lines_.back().end.empty()) lines_.back().end = eol;
    lines_.push_back({"[" + std::string(section) + "]", eol});
    lines_.push_back({std::move(entry), eol});
    return true;
  }
  std::size_t last = body - 1;  // the last line with content in the section
  for (std::size_t i = body; i < lines_.size(); ++i) {
    if (SectionOf(lines_[i].text)) break;
    const auto kv = KeyOf(lines_[i].text);
    if (kv && SameName(kv->key, key)) {
      lines_[i].text = std::move(entry);
      return true;
    }
    if (!Trim(lines_[i].text).empty()) last = i;
  }
  if (lines_[last].end.empty()) lines_[last].end = eol;
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(last + 1), Line{std::move(entry), eol});
  return true;
}

std::string TIniText::Text() const {
  std::string out;
  for (const Line& l : lines_) {
    out += l.text;
    out += l.end;
  }
  return out;
}

// --- files --------------------------------------------------------------------

bool ReplaceFileContents(const std::string& path, std::string_view bytes, std::string& error) {
  namespace fs = std::filesystem;
  std::error_code ec;
  // Write through a link to the file it names, not over the link.
  fs::path target(path);
  if (fs::is_symlink(target, ec)) {
    const fs::path real = fs::weakly_canonical(target, ec);
    if (!ec) target = real;
  }
  fs::path dir = target.parent_path();
  if (dir.empty()) dir = ".";

  mode_t mode = 0666;
  struct stat old {};
  const bool existed = ::stat(target.c_str(), &old) == 0;
  if (existed) {
    mode = old.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode &= ~mask;
  }

  std::string temp = (dir / ("." + target.filename().string() + ".XXXXXX")).string();
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) {
    error = ErrnoText(("Cannot write in " + dir.string()).c_str());
    return false;
  }
  auto fail = [&](const char* what) {
    error = ErrnoText(what);
    ::close(fd);
    ::unlink(temp.c_str());
    return false;
  };
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail(("Cannot write " + path).c_str());
    }
    done += static_cast<std::size_t>(n);
  }
  if (::fchmod(fd, mode) != 0 && existed) {
    // Not fatal: the file keeps mkstemp's private mode.
  }
  if (::fsync(fd) != 0) return fail(("Cannot write " + path).c_str());
  if (::close(fd) != 0) {
    error = ErrnoText(("Cannot write " + path).c_str());
    ::unlink(temp.c_str());
    return false;
  }
  if (::rename(temp.c_str(), target.c_str()) != 0) {
    error = ErrnoText(("Cannot replace " + path).c_str());
    ::unlink(temp.c_str());
    return false;
  }
  // The new name lasts only once the folder itself is on disk.
  const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    (void)::fsync(dfd);
    ::close(dfd);
  }
  return true;
}

TIniFile::TIniFile(std::string fileName) : fileName_(std::move(fileName)) {}

TIniFile::State TIniFile::Read(std::string& bytes, std::string* why) const {
  bytes.clear();
  if (fileName_.empty()) {
    if (why) *why = "No file name";
    return State::Unreadable;
  }
  // Non-blocking, so that a named pipe in the file's place cannot hang us.
  const int fd = ::open(fileName_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    if (errno == ENOENT) return State::Missing;
    if (why) *why = ErrnoText(("Cannot read " + fileName_).c_str());
    return State::Unreadable;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    if (why) *why = fileName_ + " is not a file";
    return State::Unreadable;
  }
  if (static_cast<uint64_t>(st.st_size) > kMaxIniFileSize) {
    ::close(fd);
    if (why) *why = fileName_ + " is too large to be a settings file";
    return State::Unreadable;
  }
  bytes.resize(static_cast<std::size_t>(st.st_size) + 1);
  std::size_t got = 0;
  for (;;) {
    if (got == bytes.size()) {
      // It grew while we read it.
      if (bytes.size() > kMaxIniFileSize) {
        ::close(fd);
        bytes.clear();
        if (why) *why = fileName_ + " is too large to be a settings file";
        return State::Unreadable;
      }
      bytes.resize(std::min(bytes.size() * 2, kMaxIniFileSize + 1));
    }
    const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      bytes.clear();
      if (why) *why = ErrnoText(("Cannot read " + fileName_).c_str());
      return State::Unreadable;
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  ::close(fd);
  bytes.resize(got);
  return State::Readable;
}

TIniText TIniFile::Load() const {
  std::string bytes;
  if (Read(bytes, nullptr) != State::Readable) return {};
  return TIniText::Parse(bytes);
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 std::string_view defaultValue) const {
  const auto v = Load().Find(section, key);
  return v ? *v : std::string(defaultValue);
}

int32_t TIniFile::ReadInteger(std::string_view section, std::string_view key,
                              int32_t defaultValue) const {
  const auto v = Load().Find(section, key);
  if (!v) return defaultValue;
  return ParseIniInteger(*v).value_or(defaultValue);
}

bool TIniFile::ReadBool(std::string_view section, std::string_view key, bool defaultValue) const {
  return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

bool TIniFile::SectionExists(std::string_view section) const {
  return Load().SectionExists(section);
}

bool TIniFile::Update(const std::function<bool(TIniText&)>& edit) {
  error_.clear();
  std::string bytes;
  std::string why;
  // A file we cannot read whole is never replaced by what little we know.
  if (Read(bytes, &why) == State::Unreadable) {
    error_ = why;
    return false;
  }
  TIniText text = TIniText::Parse(bytes);
  if (!edit(text)) {
    if (error_.empty()) error_ = "Invalid settings name or value";
    return false;
  }
  return ReplaceFileContents(fileName_, text.Text(), error_);
}

bool TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  return Update([&](TIniText& t) { return t.Set(section, key, value); });
}

bool TIniFile::WriteInteger(std::string_view section, std::string_view key, int32_t value) {
  return WriteString(section, key, std::to_string(value));
}

bool TIniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
  return WriteString(section, key, value ? "1" : "0");
}

}  // namespace tv
