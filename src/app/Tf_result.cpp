#include "Tf_result.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSaveFile>
#include <QShowEvent>
#include <QStandardPaths>
#include <QTextCursor>
#include <QTime>
#include <QVBoxLayout>

#include "Messages.h"
#include "Preferences.h"
#include "TMMRadioGroup.h"

namespace tv {

Tf_result::Tf_result(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("f_result"));
  setWindowTitle(QStringLiteral("Results of decodated files"));
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                 Qt::WindowMinMaxButtonsHint);
  resize(kWidth, kHeight);

  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(6, 6, 6, 6);
  outer->setSpacing(6);

  memo_ = new QPlainTextEdit(this);
  memo_->setObjectName(QStringLiteral("mem_result"));
  memo_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memo_->setLineWrapMode(QPlainTextEdit::NoWrap);
  QFont mono(QStringLiteral("DejaVu Sans Mono"));
  mono.setStyleHint(QFont::Monospace);
  mono.setPointSizeF(9);
  memo_->setFont(mono);
  outer->addWidget(memo_, 1);

  auto* bottom = new QHBoxLayout();
  bottom->setSpacing(10);
  formGroup_ = new TMMRadioGroup(QStringLiteral("Textfile Options "), this);
  formGroup_->setObjectName(QStringLiteral("rg_text"));
  formGroup_->SetItems(
      {QStringLiteral("Save with Date and Filename"), QStringLiteral("Save only the result")});
  formGroup_->SetItemIndex(0);
  bottom->addWidget(formGroup_, 1);

  auto* side = new QVBoxLayout();
  side->setSpacing(6);
  clipboardBox_ = new QCheckBox(QStringLiteral("Copy the result to Clipboard"), this);
  clipboardBox_->setObjectName(QStringLiteral("cb_clip"));
  clipboardBox_->setChecked(true);
  side->addWidget(clipboardBox_);
  auto* buttons = new QHBoxLayout();
  auto* saveButton = new QPushButton(QStringLiteral("Save to Textfile"), this);
  saveButton->setObjectName(QStringLiteral("btn_save"));
  auto* closeButton = new QPushButton(QStringLiteral("Close"), this);
  closeButton->setObjectName(QStringLiteral("btn_close"));
  buttons->addWidget(saveButton);
  buttons->addWidget(closeButton);
  side->addLayout(buttons);
  side->addStretch(1);
  bottom->addLayout(side);
  outer->addLayout(bottom);

  connect(saveButton, &QPushButton::clicked, this, &Tf_result::btn_saveClick);
  connect(closeButton, &QPushButton::clicked, this, &Tf_result::btn_closeClick);

  lastFolder_ = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  saveDialog_ = [this](QWidget* p) { return RunSaveDialog(p); };
}

QString Tf_result::LongTimeText(const QTime& time) {
  const QLocale locale;
  QString format = locale.timeFormat(QLocale::LongFormat);
  // The long format may name the time zone ("t", "tttt"); a clock time
  // in a result line does without it.
  format.remove(QRegularExpression(QStringLiteral("\\s*\\(?t+\\)?")));
  return locale.toString(time, format.trimmed());
}

void Tf_result::AddLine(const QString& line) {
  // The memo keeps every line ended by a line break, so that empty lines
  // (an empty result, the separator) are lines of their own.
  QTextCursor cursor(memo_->document());
  cursor.movePosition(QTextCursor::End);
  const QString text = memo_->toPlainText();
  if (!text.isEmpty() && !text.endsWith(QLatin1Char('\n'))) cursor.insertText(QStringLiteral("\n"));
  cursor.insertText(line + QLatin1Char('\n'));
  memo_->setTextCursor(cursor);
  memo_->ensureCursorVisible();
}

void Tf_result::AddResult(const QString& result, const QString& fileName) {
  if (formGroup_->ItemIndex() != 0) {
    AddLine(result);
    return;
  }
  AddLine(LongTimeText(QTime::currentTime()));
  AddLine(QStringLiteral("Filename : ") + fileName);
  AddLine(QStringLiteral("Result : ") + result);
  AddLine(QString());
}

QStringList Tf_result::Lines() const {
  QString text = memo_->toPlainText();
  if (text.isEmpty()) return {};
  if (text.endsWith(QLatin1Char('\n'))) text.chop(1);
  return text.split(QLatin1Char('\n'));
}

bool Tf_result::SaveToFile(const QString& path, QString* error) const {
  QByteArray bytes;
  for (const QString& line : Lines()) {
    bytes += line.toLatin1();
    bytes += "\r\n";
  }
  // Written beside the target and renamed over it: a failed write leaves
  // the old file as it was.
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) {
    if (error != nullptr) *error = file.errorString();
    return false;
  }
  if (file.write(bytes) != bytes.size() || !file.commit()) {
    if (error != nullptr) *error = file.errorString();
    file.cancelWriting();
    return false;
  }
  return true;
}

QString Tf_result::RunSaveDialog(QWidget* parent) {
  // A folder that is not there would be offered as a file name.
  if (!QFileInfo(lastFolder_).isDir()) lastFolder_ = QDir::homePath();
  QFileDialog dialog(parent, QStringLiteral("Save to Textfile"), lastFolder_,
                     QStringLiteral("Text files (*.txt)"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setDefaultSuffix(QStringLiteral("txt"));
  // Asking before an existing file is replaced is the dialog's default.
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().constFirst();
}

void Tf_result::btn_saveClick() {
  const QString path = saveDialog_ ? saveDialog_(this) : QString();
  if (path.isEmpty()) return;
  lastFolder_ = QFileInfo(path).absolutePath();
  QString why;
  if (!SaveToFile(path, &why)) {
    ShowError(this, QStringLiteral("The results could not be saved to\n%1\n\n%2")
                        .arg(QDir::toNativeSeparators(path), why));
  }
}

void Tf_result::btn_closeClick() { close(); }

bool Tf_result::CopiesToClipboard() const { return clipboardBox_->isChecked(); }

void Tf_result::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) FormShow();
  QDialog::showEvent(event);
}

void Tf_result::done(int result) {
  FormClose();
  QDialog::done(result);
}

void Tf_result::FormShow() {
  const auto root = PreferenceRoot::CurrentUser;
  const int left = ReadPreference(root, kPreferenceKey, QStringLiteral("Left"), 0);
  const int top = ReadPreference(root, kPreferenceKey, QStringLiteral("Top"), 0);
  move(left, top);
}

void Tf_result::FormClose() {
  const auto root = PreferenceRoot::CurrentUser;
  WritePreference(root, kPreferenceKey, QStringLiteral("Left"), x());
  WritePreference(root, kPreferenceKey, QStringLiteral("Top"), y());
}

}  // namespace tv
