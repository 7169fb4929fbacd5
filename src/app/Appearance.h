// The program's look: one style and palette on every platform plugin, and
// the classic font names mapped onto the fonts a Linux desktop has.
#pragma once

class QApplication;
class QIcon;

namespace tv {

// Style, palette, font substitutes and the window icon.
void ApplyAppearance(QApplication& app);

// The program's icon, drawn (the same picture as the desktop icon file).
QIcon ProgramIcon();

}  // namespace tv
