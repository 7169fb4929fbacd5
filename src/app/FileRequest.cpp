#include "FileRequest.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace tv {

namespace {

FileRequestPrompt& Prompt() {
  static FileRequestPrompt prompt;
  return prompt;
}

}  // namespace

QString PromptFile(QWidget* parent, const TFileRequest& request) {
  if (Prompt()) return Prompt()(parent, request);
  const QString folder = QFileInfo(request.folder).isDir() ? request.folder : QDir::homePath();
  QFileDialog dialog(parent, request.title, folder, request.filter);
  dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(request.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  dialog.setDefaultSuffix(request.defaultSuffix);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().constFirst();
}

void SetFileRequestPrompt(FileRequestPrompt prompt) { Prompt() = std::move(prompt); }

QString NameFilter(const QString& description, const QString& pattern) {
  return description.trimmed() + QStringLiteral(" (") + pattern + QLatin1Char(')');
}

}  // namespace tv
