// The main window's menus, with every entry under the name its handler
// carries (the handler of "N2" is N2Click). Entries whose handler the
// program does not have are shown disabled.
#pragma once

class QAction;
class QMenu;
class QMenuBar;

namespace tv {

class TMainMenu {
 public:
  // Builds the menus into `bar`, which owns them.
  explicit TMainMenu(QMenuBar* bar);

  // The entry or menu of that name; nullptr for an unknown name.
  QAction* Action(const char* name) const;
  QMenu* Menu(const char* name) const;

 private:
  QMenuBar* bar_;
};

}  // namespace tv
