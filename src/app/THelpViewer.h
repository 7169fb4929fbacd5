// The program's own help viewer, for desktops where no browser can be
// launched: the help document with its links, back and forward.
#pragma once

#include <QDialog>

class QTextBrowser;

namespace tv {

class THelpViewer : public QDialog {
  Q_OBJECT

 public:
  explicit THelpViewer(QWidget* parent = nullptr);

  // Shows the document (and the pages it links to).
  void Open(const QString& file);

  QTextBrowser* Browser() const { return browser_; }

  // The one viewer of the program, made on first use.
  static THelpViewer* Instance(QWidget* parent);

 private:
  QTextBrowser* browser_;
};

}  // namespace tv
