#include "AudioDialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace tv {

namespace {

WaveFilePrompt& Prompt() {
  static WaveFilePrompt prompt;
  return prompt;
}

}  // namespace

QString PromptOpenAudio(QWidget* parent, const QString& title, const QString& folder,
                        const QString& filter) {
  if (Prompt()) return Prompt()(parent, title, folder);
  QFileDialog dialog(parent, title, QFileInfo(folder).isDir() ? folder : QDir::homePath(), filter);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setOption(QFileDialog::ReadOnly, true);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().constFirst();
}

void SetOpenAudioPrompt(WaveFilePrompt prompt) { Prompt() = std::move(prompt); }

}  // namespace tv
