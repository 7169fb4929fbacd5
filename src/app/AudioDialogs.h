// The prompt for audio files other than wave files (the MP3 converter's
// "Load Mp3 file"). Tests install their own prompt, which answers at once.
#pragma once

#include <QString>

#include "WaveDialogs.h"

class QWidget;

namespace tv {

// `filter` is a Qt name filter such as "Mp3 files (*.mp3)". Answers the
// chosen name, or an empty string when the user cancelled.
QString PromptOpenAudio(QWidget* parent, const QString& title, const QString& folder,
                        const QString& filter);

// Replaces the dialog (an empty prompt restores it).
void SetOpenAudioPrompt(WaveFilePrompt prompt);

}  // namespace tv
