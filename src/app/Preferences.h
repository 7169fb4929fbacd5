// The per-user preference store: typed values (integers, strings, binary;
// booleans as integers) under key paths, kept in one text file.
//
// Reading never fails: a missing file, key or value, a value of another type
// or an unreadable store gives the default. Writing never reports a failure
// either; a write that cannot be done is dropped. Value and key names compare
// without regard to case. Every call opens the store anew, so what another
// window (or another instance of the program) wrote is seen at once; the file
// is replaced atomically, so a crash never leaves half a store behind.
#pragma once

#include <QList>
#include <QRect>
#include <QString>
#include <cstdint>

namespace tv {

enum class PreferenceRoot { CurrentUser };

// The program's key, and the key of the DTMF frequency dialog.
inline const QString kPreferenceKey = QStringLiteral("Quellfon\\Tonvista 3.2");
inline const QString kDtmfPreferenceKey = QStringLiteral("Quellfon\\Tonvista");

// Environment variable naming the folder that holds the store instead of
// $XDG_CONFIG_HOME/Quellfon (tests point it at a private folder).
inline constexpr const char* kConfigDirVariable = "TONVISTA_CONFIG_DIR";

// The folder and file of the store in force.
QString PreferenceFolder();
QString PreferenceStorePath();

// The stored value converted to the type of the default, or the default.
int32_t ReadPreference(PreferenceRoot root, const QString& key, const QString& name,
                       int32_t defaultValue);
// Stored as an integer; any non-zero integer reads as true.
bool ReadPreference(PreferenceRoot root, const QString& key, const QString& name,
                    bool defaultValue);
QString ReadPreference(PreferenceRoot root, const QString& key, const QString& name,
                       const QString& defaultValue);
QString ReadPreference(PreferenceRoot root, const QString& key, const QString& name,
                       const char* defaultValue);
// Stored as 8 bytes of binary data.
double ReadPreference(PreferenceRoot root, const QString& key, const QString& name,
                      double defaultValue);

// Stores the value with the type of the value, creating the key if needed.
void WritePreference(PreferenceRoot root, const QString& key, const QString& name, int32_t value);
void WritePreference(PreferenceRoot root, const QString& key, const QString& name, bool value);
void WritePreference(PreferenceRoot root, const QString& key, const QString& name,
                     const QString& value);
void WritePreference(PreferenceRoot root, const QString& key, const QString& name,
                     const char* value);
void WritePreference(PreferenceRoot root, const QString& key, const QString& name, double value);

// A stored window position and size made safe to apply (a hand-edited or
// corrupt file may hold any number): the size at least one pixel and no
// larger than the screen area the window lands on, though never cut below
// `designSize`, the size the window was made with; the top-left corner
// within that area, so that the title bar can be reached. The area is the
// one holding the stored corner, else the one the window overlaps most,
// else the first.
QRect FitToScreenAreas(int left, int top, int width, int height, QSize designSize,
                       const QList<QRect>& areas);
// The same against the available areas of the screens in use.
QRect FitToScreens(int left, int top, int width, int height, QSize designSize);

}  // namespace tv
