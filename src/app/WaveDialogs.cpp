#include "WaveDialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace tv {

namespace {

WaveFilePrompt& OpenPrompt() {
  static WaveFilePrompt prompt;
  return prompt;
}

WaveFilePrompt& SavePrompt() {
  static WaveFilePrompt prompt;
  return prompt;
}

const QString kFilter = QStringLiteral("Wave-Files (*.wav)");

QString StartFolder(const QString& folder) {
  return QFileInfo(folder).isDir() ? folder : QDir::homePath();
}

}  // namespace

QString PromptOpenWave(QWidget* parent, const QString& title, const QString& folder) {
  if (OpenPrompt()) return OpenPrompt()(parent, title, folder);
  QFileDialog dialog(parent, title, StartFolder(folder), kFilter);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setOption(QFileDialog::ReadOnly, true);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().constFirst();
}

QString PromptSaveWave(QWidget* parent, const QString& title, const QString& folder) {
  if (SavePrompt()) return SavePrompt()(parent, title, folder);
  QFileDialog dialog(parent, title, StartFolder(folder), kFilter);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setDefaultSuffix(QStringLiteral("wav"));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().constFirst();
}

void SetOpenWavePrompt(WaveFilePrompt prompt) { OpenPrompt() = std::move(prompt); }
void SetSaveWavePrompt(WaveFilePrompt prompt) { SavePrompt() = std::move(prompt); }

}  // namespace tv
