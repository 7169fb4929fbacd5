#include "THelpViewer.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QPointer>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace tv {

THelpViewer::THelpViewer(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("THelpViewer"));
  setWindowTitle(tr("Tonvista Help"));
  browser_ = new QTextBrowser(this);
  browser_->setObjectName(QStringLiteral("HelpBrowser"));
  browser_->setOpenExternalLinks(true);
  auto* buttons = new QDialogButtonBox(this);
  auto* back = buttons->addButton(tr("&Back"), QDialogButtonBox::ActionRole);
  auto* forward = buttons->addButton(tr("&Forward"), QDialogButtonBox::ActionRole);
  buttons->addButton(QDialogButtonBox::Close);
  back->setEnabled(false);
  forward->setEnabled(false);
  connect(back, &QPushButton::clicked, browser_, &QTextBrowser::backward);
  connect(forward, &QPushButton::clicked, browser_, &QTextBrowser::forward);
  connect(browser_, &QTextBrowser::backwardAvailable, back, &QPushButton::setEnabled);
  connect(browser_, &QTextBrowser::forwardAvailable, forward, &QPushButton::setEnabled);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(browser_);
  layout->addWidget(buttons);
  resize(760, 620);
}

void THelpViewer::Open(const QString& file) {
  browser_->setSearchPaths({QFileInfo(file).absolutePath()});
  browser_->setSource(QUrl::fromLocalFile(file));
}

THelpViewer* THelpViewer::Instance(QWidget* parent) {
  static QPointer<THelpViewer> viewer;
  if (!viewer) {
    viewer = new THelpViewer(parent);
    viewer->setAttribute(Qt::WA_DeleteOnClose);
  }
  return viewer;
}

}  // namespace tv
