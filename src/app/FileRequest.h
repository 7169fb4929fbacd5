// The prompts for the names of stored spectra, settings and printed pages:
// one request (title, filter, default extension, start folder) answered by a
// file dialog. The main window's windows share it as they share one open
// dialog; tests install their own prompt, which answers at once.
#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace tv {

struct TFileRequest {
  QString title;
  // A name filter in the dialog's form: "Tonvista Peak Data (*.sav)".
  QString filter;
  QString defaultSuffix;
  QString folder;
  // A save dialog asks before an existing file is replaced.
  bool save = false;
};

// Answers the chosen file's full path, or an empty string when cancelled.
using FileRequestPrompt = std::function<QString(QWidget* parent, const TFileRequest& request)>;

QString PromptFile(QWidget* parent, const TFileRequest& request);

// Replaces the dialog (an empty prompt restores it).
void SetFileRequestPrompt(FileRequestPrompt prompt);

// The filter of a described "Description |*.ext" pair in the dialog's form.
QString NameFilter(const QString& description, const QString& pattern);

}  // namespace tv
