// The program information window: the start-up screen, and "About" later.
#pragma once

#include <QDialog>

class QLabel;
class QTextBrowser;

namespace tv {

// The picture that fills the information window; a click on it closes the
// window.
class TInfoPicture : public QWidget {
  Q_OBJECT

 public:
  explicit TInfoPicture(QWidget* parent = nullptr);

 signals:
  void clicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
};

class TFrmInfo : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kWidth = 538;
  static constexpr int kHeight = 309;

  explicit TFrmInfo(QWidget* parent = nullptr);

  // Shows the window and paints it before returning, for use before the
  // event loop runs.
  void ShowNow();

  void Image1Click();
  void MMLabel13Click();

  TInfoPicture* Image1;
  QLabel* LabProduct;
  QLabel* LabEdition;
  QTextBrowser* MemIntro;
  QLabel* LabContactHead;
  QLabel* LabContact;
  QLabel* MMLabel13;  // "Close"

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace tv
