#include "Preferences.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QList>
#include <QLockFile>
#include <QSaveFile>
#include <QStandardPaths>
#include <algorithm>
#include <cstring>
#include <mutex>
#include <optional>

namespace tv {

namespace {

// File layout, one entry a line:
//   ; comment
//   [Quellfon\Tonvista 3.2]
//   "top"=dword:00000081
//   "InitDir"="/home/user/wav"
//   "Scale"=hex:00,00,00,00,00,00,f0,3f
// Names and strings are quoted with \\ \" \n \r \t and \xHH escapes; the file
// is UTF-8. Lines that do not parse are skipped when reading and kept as
// they are when a value is written.
constexpr qint64 kMaxStoreBytes = 16 * 1024 * 1024;
const QString kStoreFileName = QStringLiteral("Tonvista.prefs");

struct Value {
  enum class Type { Integer, String, Binary };
  QString name;
  Type type = Type::Integer;
  int32_t integer = 0;
  QString text;
  QByteArray bytes;
};

struct Key {
  QString path;
  QList<Value> values;
};

using Store = QList<Key>;

std::mutex& StoreLock() {
  static std::mutex lock;
  return lock;
}

bool SameName(const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

Key* FindKey(Store& store, const QString& path) {
  for (Key& k : store) {
    if (SameName(k.path, path)) return &k;
  }
  return nullptr;
}

Value* FindValue(Key& key, const QString& name) {
  for (Value& v : key.values) {
    if (SameName(v.name, name)) return &v;
  }
  return nullptr;
}

// Key paths are compared with either slash, without leading/trailing ones.
QString NormalKeyPath(const QString& path) {
  QString p = path;
  p.replace(QLatin1Char('/'), QLatin1Char('\\'));
  while (p.startsWith(QLatin1Char('\\'))) p.remove(0, 1);
  while (p.endsWith(QLatin1Char('\\'))) p.chop(1);
  return p;
}

QString Quote(const QString& s) {
  QString out;
  out.reserve(s.size() + 2);
  out += QLatin1Char('"');
  for (QChar c : s) {
    switch (c.unicode()) {
      case '\\':
        out += QStringLiteral("\\\\");
        break;
      case '"':
        out += QStringLiteral("\\\"");
        break;
      case '\n':
        out += QStringLiteral("\\n");
        break;
      case '\r':
        out += QStringLiteral("\\r");
        break;
      case '\t':
        out += QStringLiteral("\\t");
        break;
      default:
        if (c.unicode() < 0x20 || c.unicode() == 0x7F) {
          out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        } else {
          out += c;
        }
    }
  }
  out += QLatin1Char('"');
  return out;
}

// Reads a quoted string starting at `pos` (which must be a quote); leaves
// `pos` after the closing quote.
std::optional<QString> Unquote(const QString& line, qsizetype& pos) {
  if (pos >= line.size() || line.at(pos) != QLatin1Char('"')) return std::nullopt;
  QString out;
  for (++pos; pos < line.size(); ++pos) {
    const QChar c = line.at(pos);
    if (c == QLatin1Char('"')) {
      ++pos;
      return out;
    }
    if (c != QLatin1Char('\\')) {
      out += c;
      continue;
    }
    if (++pos >= line.size()) return std::nullopt;
    switch (line.at(pos).unicode()) {
      case '\\':
        out += QLatin1Char('\\');
        break;
      case '"':
        out += QLatin1Char('"');
        break;
      case 'n':
        out += QLatin1Char('\n');
        break;
      case 'r':
        out += QLatin1Char('\r');
        break;
      case 't':
        out += QLatin1Char('\t');
        break;
      case 'x': {
        bool ok = false;
        const uint code = line.mid(pos + 1, 2).toUInt(&ok, 16);
        if (!ok || pos + 2 >= line.size()) return std::nullopt;
        out += QChar(static_cast<char16_t>(code));
        pos += 2;
        break;
      }
      default:
        return std::nullopt;
    }
  }
  return std::nullopt;  // no closing quote
}

std::optional<Value> ParseValueLine(const QString& line) {
  qsizetype pos = 0;
  const std::optional<QString> name = Unquote(line, pos);
  if (!name || pos >= line.size() || line.at(pos) != QLatin1Char('=')) return std::nullopt;
  ++pos;
  Value v;
  v.name = *name;
  const QString rest = line.mid(pos);
  if (rest.startsWith(QLatin1Char('"'))) {
    qsizetype p = 0;
    const std::optional<QString> text = Unquote(rest, p);
    if (!text || p != rest.size()) return std::nullopt;
    v.type = Value::Type::String;
    v.text = *text;
    return v;
  }
  if (rest.startsWith(QLatin1String("dword:"))) {
    const QString digits = rest.mid(6);
    bool ok = false;
    const uint u = digits.toUInt(&ok, 16);
    if (!ok || digits.size() != 8) return std::nullopt;
    v.type = Value::Type::Integer;
    v.integer = static_cast<int32_t>(u);
    return v;
  }
  if (rest.startsWith(QLatin1String("hex:"))) {
    v.type = Value::Type::Binary;
    const QString body = rest.mid(4);
    if (body.isEmpty()) return v;
    for (const QString& part : body.split(QLatin1Char(','))) {
      bool ok = false;
      const uint b = part.toUInt(&ok, 16);
      if (!ok || part.size() != 2) return std::nullopt;
      v.bytes.append(static_cast<char>(b));
    }
    return v;
  }
  return std::nullopt;
}

Store Parse(const QByteArray& data) {
  Store store;
  Key* current = nullptr;
  for (const QByteArray& raw : data.split('\n')) {
    const QString line = QString::fromUtf8(raw).trimmed();
    if (line.isEmpty() || line.startsWith(QLatin1Char(';'))) continue;
    if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
      const QString path = NormalKeyPath(line.mid(1, line.size() - 2));
      current = FindKey(store, path);
      if (current == nullptr) {
        store.append(Key{path, {}});
        current = &store.last();
      }
      continue;
    }
    if (current == nullptr) continue;
    std::optional<Value> v = ParseValueLine(line);
    if (!v) continue;
    if (Value* existing = FindValue(*current, v->name)) {
      *existing = std::move(*v);  // the later line wins
    } else {
      current->values.append(std::move(*v));
    }
  }
  return store;
}

QString ValueText(const Value& v) {
  QString out = Quote(v.name) + QLatin1Char('=');
  switch (v.type) {
    case Value::Type::Integer:
      out += QStringLiteral("dword:%1").arg(static_cast<uint32_t>(v.integer), 8, 16, QLatin1Char('0'));
      break;
    case Value::Type::String:
      out += Quote(v.text);
      break;
    case Value::Type::Binary: {
      QStringList parts;
      for (char b : v.bytes) {
        parts += QStringLiteral("%1").arg(static_cast<unsigned char>(b), 2, 16, QLatin1Char('0'));
      }
      out += QStringLiteral("hex:") + parts.join(QLatin1Char(','));
      break;
    }
  }
  return out;
}

bool IsSectionLine(const QString& line) {
  return line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'));
}

// The file with one value set: the line that holds it is replaced, or a new
// line goes to the end of its section (a new section to the end of the
// file). Every other line, comments and lines we cannot read included, stays
// as it was, so a hand-edited file keeps what its author put there.
QByteArray WithValue(const QByteArray& data, const QString& keyPath, Value value) {
  QList<QByteArray> lines = data.split('\n');
  if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
  qsizetype valueLine = -1;
  qsizetype sectionEnd = -1;
  bool inSection = false;
  for (qsizetype i = 0; i < lines.size(); ++i) {
    const QString line = QString::fromUtf8(lines.at(i)).trimmed();
    if (IsSectionLine(line)) {
      inSection = SameName(NormalKeyPath(line.mid(1, line.size() - 2)), keyPath);
      if (inSection) sectionEnd = i + 1;
      continue;
    }
    if (!inSection || line.isEmpty()) continue;
    sectionEnd = i + 1;
    if (line.startsWith(QLatin1Char(';'))) continue;
    const std::optional<Value> v = ParseValueLine(line);
    if (v && SameName(v->name, value.name)) {
      valueLine = i;  // the later line wins, as when reading
      value.name = v->name;  // keeps the spelling it was first stored under
    }
  }
  const QByteArray text = ValueText(value).toUtf8();
  if (valueLine >= 0) {
    lines[valueLine] = text;
  } else if (sectionEnd >= 0) {
    lines.insert(sectionEnd, text);
  } else {
    if (lines.isEmpty()) {
      lines.append("; Tonvista preferences. Written by the program; edit with care.");
    }
    if (!lines.last().trimmed().isEmpty()) lines.append(QByteArray());
    lines.append(QStringLiteral("[%1]").arg(keyPath).toUtf8());
    lines.append(text);
  }
  return lines.join('\n') + '\n';
}

enum class LoadResult { Loaded, Missing, Unreadable };

LoadResult LoadBytes(const QString& path, QByteArray& data) {
  QFile file(path);
  if (!file.exists()) return LoadResult::Missing;
  if (!file.open(QIODevice::ReadOnly)) return LoadResult::Unreadable;
  if (file.size() > kMaxStoreBytes) return LoadResult::Unreadable;
  data = file.readAll();
  if (file.error() != QFileDevice::NoError) return LoadResult::Unreadable;
  return LoadResult::Loaded;
}

LoadResult Load(const QString& path, Store& store) {
  QByteArray data;
  const LoadResult result = LoadBytes(path, data);
  if (result == LoadResult::Loaded) store = Parse(data);
  return result;
}

std::optional<Value> Lookup(const QString& key, const QString& name) {
  std::lock_guard guard(StoreLock());
  Store store;
  if (Load(PreferenceStorePath(), store) != LoadResult::Loaded) return std::nullopt;
  Key* k = FindKey(store, NormalKeyPath(key));
  if (k == nullptr) return std::nullopt;
  Value* v = FindValue(*k, name);
  if (v == nullptr) return std::nullopt;
  return *v;
}

void StoreValue(const QString& key, Value value) {
  std::lock_guard guard(StoreLock());
  const QString folder = PreferenceFolder();
  const QString path = PreferenceStorePath();
  if (!QDir().mkpath(folder)) return;
  // Another instance of the program may write at the same moment; without
  // the lock one of the two updates could be lost.
  QLockFile lock(path + QStringLiteral(".lock"));
  lock.setStaleLockTime(5000);
  // Without the lock (stale or unwritable) the write still goes ahead; the
  // atomic replace keeps the file whole either way.
  lock.tryLock(1000);
  QByteArray data;
  // A store that exists but cannot be read is left alone: rewriting it
  // from nothing would lose every other value in it.
  if (LoadBytes(path, data) == LoadResult::Unreadable) return;
  QSaveFile out(path);
  if (!out.open(QIODevice::WriteOnly)) return;
  out.write(WithValue(data, NormalKeyPath(key), std::move(value)));
  out.commit();
}

}  // namespace

QString PreferenceFolder() {
  const QByteArray overridden = qgetenv(kConfigDirVariable);
  if (!overridden.isEmpty()) return QDir::cleanPath(QString::fromLocal8Bit(overridden));
  // GenericConfigLocation honours $XDG_CONFIG_HOME and defaults to ~/.config.
  QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
  if (base.isEmpty()) base = QDir::homePath() + QStringLiteral("/.config");
  return base + QStringLiteral("/Quellfon");
}

QString PreferenceStorePath() { return PreferenceFolder() + QLatin1Char('/') + kStoreFileName; }

int32_t ReadPreference(PreferenceRoot /*root*/, const QString& key, const QString& name,
                       int32_t defaultValue) {
  const std::optional<Value> v = Lookup(key, name);
  return v && v->type == Value::Type::Integer ? v->integer : defaultValue;
}

bool ReadPreference(PreferenceRoot /*root*/, const QString& key, const QString& name,
                    bool defaultValue) {
  const std::optional<Value> v = Lookup(key, name);
  return v && v->type == Value::Type::Integer ? v->integer != 0 : defaultValue;
}

QString ReadPreference(PreferenceRoot /*root*/, const QString& key, const QString& name,
                       const QString& defaultValue) {
  const std::optional<Value> v = Lookup(key, name);
  return v && v->type == Value::Type::String ? v->text : defaultValue;
}

QString ReadPreference(PreferenceRoot root, const QString& key, const QString& name,
                       const char* defaultValue) {
  return ReadPreference(root, key, name, QString::fromUtf8(defaultValue));
}

double ReadPreference(PreferenceRoot /*root*/, const QString& key, const QString& name,
                      double defaultValue) {
  const std::optional<Value> v = Lookup(key, name);
  if (!v || v->type != Value::Type::Binary || v->bytes.size() != sizeof(double)) {
    return defaultValue;
  }
  double d = 0;
  std::memcpy(&d, v->bytes.constData(), sizeof d);
  return d;
}

void WritePreference(PreferenceRoot /*root*/, const QString& key, const QString& name,
                     int32_t value) {
  Value v;
  v.name = name;
  v.type = Value::Type::Integer;
  v.integer = value;
  StoreValue(key, std::move(v));
}

void WritePreference(PreferenceRoot root, const QString& key, const QString& name, bool value) {
  WritePreference(root, key, name, static_cast<int32_t>(value ? 1 : 0));
}

void WritePreference(PreferenceRoot /*root*/, const QString& key, const QString& name,
                     const QString& value) {
  Value v;
  v.name = name;
  v.type = Value::Type::String;
  v.text = value;
  StoreValue(key, std::move(v));
}

void WritePreference(PreferenceRoot root, const QString& key, const QString& name,
                     const char* value) {
  WritePreference(root, key, name, QString::fromUtf8(value));
}

void WritePreference(PreferenceRoot /*root*/, const QString& key, const QString& name,
                     double value) {
  Value v;
  v.name = name;
  v.type = Value::Type::Binary;
  v.bytes = QByteArray(reinterpret_cast<const char*>(&value), sizeof value);
  StoreValue(key, std::move(v));
}

QRect FitToScreenAreas(int left, int top, int width, int height, QSize designSize,
                       const QList<QRect>& areas) {
  // Without a screen the size still gets a bound a window can have.
  QRect area(0, 0, 16384, 16384);
  if (!areas.isEmpty()) {
    area = areas.first();
    int64_t best = 0;
    for (const QRect& a : areas) {
      if (a.contains(left, top)) {
        area = a;
        break;
      }
      // Overlap in 64 bits: the stored numbers may be anything.
      const int64_t w = std::min<int64_t>(int64_t{a.x()} + a.width(), int64_t{left} + width) -
                        std::max<int64_t>(a.x(), left);
      const int64_t h = std::min<int64_t>(int64_t{a.y()} + a.height(), int64_t{top} + height) -
                        std::max<int64_t>(a.y(), top);
      if (w > 0 && h > 0 && w * h > best) {
        best = w * h;
        area = a;
      }
    }
  }
  const int w = std::clamp(width, 1, std::max({area.width(), designSize.width(), 1}));
  const int h = std::clamp(height, 1, std::max({area.height(), designSize.height(), 1}));
  const int x = std::clamp(left, area.x(), area.x() + std::max(area.width(), 1) - 1);
  const int y = std::clamp(top, area.y(), area.y() + std::max(area.height(), 1) - 1);
  return QRect(x, y, w, h);
}

QRect FitToScreens(int left, int top, int width, int height, QSize designSize) {
  QList<QRect> areas;
  for (QScreen* s : QGuiApplication::screens()) areas.append(s->availableGeometry());
  return FitToScreenAreas(left, top, width, height, designSize, areas);
}

}  // namespace tv
