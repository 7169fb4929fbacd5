// Information boxes raised by the audio components (for example when a
// callback mode is refused). The core has no windows: the desktop program
// installs a handler that shows a message box with one OK button; without
// one the text goes to standard error.
#pragma once

#include <functional>
#include <string>

namespace tv {

using InformationHandler = std::function<void(const std::string& title, const std::string& text)>;
void SetInformationHandler(InformationHandler handler);
// May be called on any thread; the handler decides where the box appears.
void ShowInformation(const std::string& title, const std::string& text);

// Shown when a device or timer is asked for cmCallback, which runs code at
// interrupt time on the one platform that had it and is refused everywhere else.
inline constexpr const char* kCallbackModeNotice =
    "\"CallBacks\" are called at interrupt time !\n\rThis is currently only supported under "
    "Windows 95";

}  // namespace tv
