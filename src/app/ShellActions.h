// The two actions the program leaves to the desktop: the system's volume
// mixer ("Standard &Mixer Win95/98/00/NT") and the help document
// ("&Help-File", F1). Both stay silent when nothing can be opened; the help
// then shows in the program's own viewer.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QUrl;
class QWidget;

namespace tv {

// The mixers tried, in order.
QStringList MixerPrograms();
// Starts the first installed mixer; false (and nothing shown) when none is
// installed or it could not be started.
bool SetupforInput1Click();

// Environment variable naming the folder of the help document outright.
inline constexpr const char* kHelpDirVariable = "TONVISTA_HELP_DIR";

// The help document: where TONVISTA_HELP_DIR says, else beside the program ("help/index.html" in the build
// tree or a portable folder), then "<prefix>/share/tonvista/help", then the
// XDG data folders. Empty when it is nowhere.
QString HelpFilePath();

// Opens the help document in the desktop's browser; where none can be
// launched, in the program's viewer. Nothing happens when there is no
// document.
void HelpFile1Click(QWidget* parent);

// Replace how programs are started and URLs opened (tests); empty
// functions restore the desktop's.
using TProgramStarter = std::function<bool(const QString& program, const QStringList& arguments)>;
using TUrlOpener = std::function<bool(const QUrl& url)>;
void SetProgramStarter(TProgramStarter starter);
void SetUrlOpener(TUrlOpener opener);

}  // namespace tv
