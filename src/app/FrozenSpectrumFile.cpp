#include "FrozenSpectrumFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "TMMSpectrumCalc.h"

namespace tv {

namespace {

constexpr size_t kMaxLines = TMMSpectrumCalc::kMaxBins;
// A line long enough to hold an integer with blanks around it.
constexpr size_t kMaxLineLength = 64;
// No stored spectrum is longer; a bigger file is not read at all.
constexpr qint64 kMaxFileSize = static_cast<qint64>(kMaxLines * (kMaxLineLength + 2));

bool ParseLevel(std::string_view line, int32_t& value) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!line.empty() && blank(line.front())) line.remove_prefix(1);
  while (!line.empty() && blank(line.back())) line.remove_suffix(1);
  const bool plus = !line.empty() && line.front() == '+';
  if (plus) line.remove_prefix(1);
  if (line.empty() || (plus && line.front() == '-')) return false;
  const char* end = line.data() + line.size();
  const auto [ptr, ec] = std::from_chars(line.data(), end, value);
  return ec == std::errc() && ptr == end;
}

QString Shown(std::string_view line) {
  QString text = QString::fromLatin1(line.substr(0, 24));
  for (QChar& c : text) {
    if (c.unicode() < 32) c = QLatin1Char('?');
  }
  if (line.size() > 24) text += QStringLiteral("...");
  return text;
}

}  // namespace

bool ReadFrozenLevels(const QString& path, std::vector<int32_t>& levels, QString* error) {
  const auto fail = [error](const QString& why) {
    if (error != nullptr) *error = why;
    return false;
  };
  QFile file(path);
  if (!QFileInfo(path).isFile()) {
    return fail(QFileInfo::exists(path) ? QStringLiteral("It is not a file.")
                                        : QStringLiteral("The file does not exist."));
  }
  if (!file.open(QIODevice::ReadOnly)) {
    return fail(QStringLiteral("The file cannot be read: %1.").arg(file.errorString()));
  }
  const QByteArray bytes = file.read(kMaxFileSize + 1);
  if (file.error() != QFileDevice::NoError) {
    return fail(QStringLiteral("The file cannot be read: %1.").arg(file.errorString()));
  }
  if (bytes.isEmpty()) return fail(QStringLiteral("The file is empty: it holds no levels."));
  if (bytes.size() > kMaxFileSize) {
    return fail(QStringLiteral("The file is too long for a stored spectrum."));
  }
  std::vector<int32_t> read;
  read.reserve(kMaxLines);
  std::string_view rest(bytes.constData(), static_cast<size_t>(bytes.size()));
  while (!rest.empty()) {
    const size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const size_t number = read.size() + 1;
    if (number > kMaxLines) {
      return fail(QStringLiteral("The file has more than %1 lines: it is not a stored spectrum.")
                      .arg(kMaxLines));
    }
    int32_t value = 0;
    if (line.size() > kMaxLineLength || !ParseLevel(line, value)) {
      return fail(line.empty() ? QStringLiteral("Line %1 is empty.").arg(number)
                               : QStringLiteral("Line %1 is not an integer: \"%2\".")
                                     .arg(number)
                                     .arg(Shown(line)));
    }
    read.push_back(value);
  }
  levels = std::move(read);
  return true;
}

int32_t FFTLengthOfLevels(size_t count) {
  if (count < TMMSpectrumCalc::kMinFFTLength / 2 || count > kMaxLines) return 0;
  if (!std::has_single_bit(count)) return 0;
  return static_cast<int32_t>(count * 2);
}

QString IncompatibleBackgroundMessage() {
  return QStringLiteral(
      "Quellfon change the code of this files to make it 400 % faster.\n"
      "Unfortunately the old files are not anymore compatible with the new files.\n"
      "\n"
      "If you have important files from your projects, ask us for a converter tool.");
}

QString IncompatiblePrintMessage() {
  return QStringLiteral(
      "Quellfon change the code of this files to make it 400 % faster.\n"
      "Unfortunately the old files are not anymore compatible with the new files.\n"
      "You have to create new frozen files\n"
      "\n"
      "If you have important files from your projects, ask us for a converter tool.");
}

bool MoveFileReplacing(const QString& from, const QString& to, QString* error) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::rename(fs::path(QFile::encodeName(from).toStdString()),
             fs::path(QFile::encodeName(to).toStdString()), ec);
  if (!ec) return true;
  // Another file system: copy beside the target, then rename over it.
  QFile source(from);
  QSaveFile target(to);
  QString why;
  if (!source.open(QIODevice::ReadOnly)) {
    why = source.errorString();
  } else if (!target.open(QIODevice::WriteOnly)) {
    why = target.errorString();
  } else {
    const QByteArray bytes = source.readAll();
    if (source.error() != QFileDevice::NoError) {
      why = source.errorString();
    } else if (target.write(bytes) != bytes.size() || !target.commit()) {
      why = target.errorString();
    }
  }
  if (!why.isEmpty()) {
    target.cancelWriting();
    if (error != nullptr) *error = why;
    return false;
  }
  source.close();
  QFile::remove(from);
  return true;
}

}  // namespace tv
