#include "Messages.h"

#include <QApplication>
#include <QMessageBox>

namespace tv {

namespace {

MessageSink& Sink() {
  static MessageSink sink;
  return sink;
}

void Show(QWidget* parent, const QString& text, MessageKind kind) {
  if (Sink()) {
    Sink()(parent, text, kind);
    return;
  }
  QMessageBox box(kind == MessageKind::Error ? QMessageBox::Critical : QMessageBox::NoIcon,
                  QApplication::applicationDisplayName(), text, QMessageBox::Ok, parent);
  box.exec();
}

}  // namespace

void ShowMessage(QWidget* parent, const QString& text) {
  Show(parent, text, MessageKind::Information);
}

void ShowError(QWidget* parent, const QString& text) { Show(parent, text, MessageKind::Error); }

void ShowNotice(QWidget* parent, const QString& text) {
  if (Sink()) {
    Sink()(parent, text, MessageKind::Error);
    return;
  }
  auto* box = new QMessageBox(QMessageBox::Warning, QApplication::applicationDisplayName(), text,
                              QMessageBox::Ok, parent);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setModal(false);
  box->show();
}

void SetMessageSink(MessageSink sink) { Sink() = std::move(sink); }

}  // namespace tv
