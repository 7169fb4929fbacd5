// The program's prompts for wave file names: the load dialog, the save
// dialogs of the tools. Tests install their own prompts, which answer at
// once instead of waiting for a person.
#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace tv {

// Answers the chosen file name, or an empty string when the user cancelled.
using WaveFilePrompt =
    std::function<QString(QWidget* parent, const QString& title, const QString& folder)>;

QString PromptOpenWave(QWidget* parent, const QString& title, const QString& folder);
QString PromptSaveWave(QWidget* parent, const QString& title, const QString& folder);

// Replace the dialogs (an empty prompt restores them).
void SetOpenWavePrompt(WaveFilePrompt prompt);
void SetSaveWavePrompt(WaveFilePrompt prompt);

}  // namespace tv
