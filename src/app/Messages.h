// Plain message boxes with one OK button, as the program tells the user of
// problems. Tests install a sink to see the messages instead of a box that
// would wait for a click.
#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace tv {

enum class MessageKind { Information, Error };

void ShowMessage(QWidget* parent, const QString& text);
void ShowError(QWidget* parent, const QString& text);
// A box that does not wait for its OK: for what the program tells while it
// goes on by itself (a sound device that is missing), so that nothing
// stops for it.
void ShowNotice(QWidget* parent, const QString& text);

using MessageSink = std::function<void(QWidget* parent, const QString& text, MessageKind kind)>;
// Replaces the message boxes (an empty sink restores them).
void SetMessageSink(MessageSink sink);

}  // namespace tv
