// The program information window: the start-up screen, and the "About" window.
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
  void painted();

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

  // Shows the window on top; `painted` tells when it is on the screen.
  void ShowNow();

  void Image1Click();
  void MMLabel13Click();

 signals:
  // The window has been drawn for the first time.
  void painted();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  TInfoPicture* picture_;
  QLabel* closeLabel_;
  bool painted_ = false;
};

}  // namespace tv
