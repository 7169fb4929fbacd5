// The program's data folder and the folders below it.
//
// A portable copy (the build tree, an unpacked folder) keeps its data beside
// the executable; an installed program, whose folder is not writable or is a
// system folder, keeps it in the per-user data folder
// (~/.local/share/Quellfon/Tonvista). The folder functions create what they
// name, quietly: a folder that cannot be made is still returned.
#pragma once

#include <QString>
#include <QStringList>

namespace tv {

// Environment variable naming the data folder outright (tests).
inline constexpr const char* kDataDirVariable = "TONVISTA_DATA_DIR";

QString ProgramDataFolder();
QString AnalyzerProjectsFolder();  // "Analyzer Projects": settings files
QString PeakDataFolder();          // "Analyzer Peak Data": stored spectra, memo
QString DecodeDemosFolder();       // "Decode Demos": demonstration recordings

// Whether a folder can hold the program's data itself: writable, and neither
// a system folder nor the binary folder of an installed layout.
bool IsPortableFolder(const QString& folder);

// Folders where an installed program's demonstration recordings are found
// ("<prefix>/share/tonvista/Decode Demos" and the XDG data folders).
QStringList InstalledDemoFolders();

// Copies the demonstration recordings that the data folder lacks from
// `source` (by default the first installed folder that exists). Existing
// files are kept. Returns how many files were copied.
int SeedDecodeDemos();
int SeedDecodeDemos(const QString& source);

}  // namespace tv
