#include "TfSetupPrint.h"

#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QVBoxLayout>

#include "DataFolder.h"
#include "FileRequest.h"
#include "FrozenSpectrumFile.h"
#include "Messages.h"
#include "TMMRadioGroup.h"

namespace tv {

TfSetupPrint::TfSetupPrint(const TMMSpectrum* mainSpectrum, QWidget* parent)
    : QDialog(parent),
      main_(mainSpectrum),
      printer_(std::make_unique<QPrinter>(QPrinter::HighResolution)) {
  setObjectName(QStringLiteral("fSetupPrint"));
  setWindowTitle(QStringLiteral("Setup"));
  setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  resize(kWidth, kHeight);

  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(12, 10, 12, 12);
  outer->setSpacing(8);
  Heading = new QLabel(QStringLiteral("Print Spectrum Setup"), this);
  Heading->setObjectName(QStringLiteral("Heading"));
  QFont big = Heading->font();
  big.setBold(true);
  big.setPointSizeF(big.pointSizeF() * 1.6);
  Heading->setFont(big);
  outer->addWidget(Heading);

  auto* frozen = new QGroupBox(QStringLiteral("Print freezed Spectrum"), this);
  auto* frozenRow = new QHBoxLayout(frozen);
  labFreezed = new QLabel(frozen);
  labFreezed->setObjectName(QStringLiteral("labFreezed"));
  labFreezed->setFrameShape(QFrame::StyledPanel);
  labFreezed->setTextInteractionFlags(Qt::TextSelectableByMouse);
  labFreezed->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  btnFreez = new QPushButton(QStringLiteral("Load Freezed Spectrum"), frozen);
  btnFreez->setObjectName(QStringLiteral("btnFreez"));
  frozenRow->addWidget(labFreezed, 1);
  frozenRow->addWidget(btnFreez);
  outer->addWidget(frozen);

  auto* labels = new QGridLayout();
  labels->setHorizontalSpacing(12);
  auto* mainCaption = new QLabel(QStringLiteral("Main Label ( Font size 42 )"), this);
  edMain = new QLineEdit(QStringLiteral("Tonvista"), this);
  edMain->setObjectName(QStringLiteral("edMain"));
  auto* prodCaption = new QLabel(QStringLiteral("Production Label ( Font size 12 )"), this);
  edProd = new QLineEdit(QStringLiteral("Quellfon"), this);
  edProd->setObjectName(QStringLiteral("edProd"));
  // "&&" shows one ampersand, as the design has it.
  rgBackground = new TMMRadioGroup(QStringLiteral(" Select background Color && Bar Color"), this);
  rgBackground->setObjectName(QStringLiteral("rgBackground"));
  rgBackground->SetItems({QStringLiteral("Black background (selected Color)"),
                          QStringLiteral("White background (Black Bars)")});
  rgBackground->SetItemIndex(1);
  labels->addWidget(mainCaption, 0, 0);
  labels->addWidget(edMain, 1, 0);
  labels->addWidget(prodCaption, 2, 0);
  labels->addWidget(edProd, 3, 0);
  labels->addWidget(rgBackground, 0, 1, 4, 1);
  labels->setColumnStretch(0, 1);
  outer->addLayout(labels);

  auto* memoCaption = new QLabel(QStringLiteral("Memo Field"), this);
  outer->addWidget(memoCaption);
  Memo1 = new QPlainTextEdit(this);
  Memo1->setObjectName(QStringLiteral("Memo1"));
  outer->addWidget(Memo1, 1);

  auto* buttons = new QHBoxLayout();
  buttons->addStretch(1);
  btnPreview = new QPushButton(QStringLiteral("Preview"), this);
  btnPreview->setObjectName(QStringLiteral("btnPreview"));
  Button1 = new QPushButton(QStringLiteral("Print"), this);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button1->setDefault(true);
  buttons->addWidget(btnPreview);
  buttons->addWidget(Button1);
  outer->addLayout(buttons);

  connect(btnFreez, &QPushButton::clicked, this, &TfSetupPrint::btnFreezClick);
  connect(btnPreview, &QPushButton::clicked, this, &TfSetupPrint::btnPreviewClick);
  connect(Button1, &QPushButton::clicked, this, &TfSetupPrint::Button1Click);
}

TfSetupPrint::~TfSetupPrint() = default;

TPrintSetup TfSetupPrint::Setup() const {
  TPrintSetup setup;
  setup.mainLabel = edMain->text();
  setup.prodLabel = edProd->text();
  setup.memo = Memo1->toPlainText();
  setup.background = rgBackground->ItemIndex() == 0 ? 0 : 1;
  return setup;
}

void TfSetupPrint::btnFreezClick() {
  TFileRequest request;
  request.title = QStringLiteral("Load Tonvista Peak Data");
  request.filter = NameFilter(QStringLiteral("Analyzer Peak Data "), QStringLiteral("*.sav"));
  request.defaultSuffix = QStringLiteral("sav");
  request.folder = PeakDataFolder();
  const QString chosen = PromptFile(this, request);
  if (chosen.isEmpty()) return;
  frozenFile_ = QFileInfo(chosen).absoluteFilePath();
  labFreezed->setText(QDir::toNativeSeparators(frozenFile_));
}

std::unique_ptr<TfPrint> TfSetupPrint::ComposePage() {
  if (frozenFile_.isEmpty()) {
    ShowMessage(this, QStringLiteral("Please select a freezed Background!"));
    return nullptr;
  }
  auto page = std::make_unique<TfPrint>(Setup(), main_, frozenFile_);
  if (!page->Composed()) {
    ShowError(this, IncompatiblePrintMessage() + QStringLiteral("\n\n") +
                        QDir::toNativeSeparators(frozenFile_) + QLatin1Char('\n') + page->Error());
    return nullptr;
  }
  return page;
}

bool TfSetupPrint::NeedsPdfFile() const {
  return printer_->outputFormat() == QPrinter::PdfFormat && printer_->outputFileName().isEmpty();
}

void TfSetupPrint::Button1Click() {
  if (frozenFile_.isEmpty()) {
    ShowMessage(this, QStringLiteral("Please select a freezed Background!"));
    return;
  }
  QString why;
  if (!StorePrintSetup(Setup(), &why)) {
    // The page is printed all the same; only the copy of the memo is missing.
    ShowError(this, QStringLiteral("The memo could not be kept in\n%1\n\n%2")
                        .arg(QDir::toNativeSeparators(MemoFile()), why));
  }
  const std::unique_ptr<TfPrint> page = ComposePage();
  if (!page) return;
  bool printed = false;
  if (NeedsPdfFile()) {
    // No printer: the page goes to a PDF file instead.
    TFileRequest request;
    request.title = QStringLiteral("No printer installed: print to PDF file");
    request.filter = NameFilter(QStringLiteral("PDF files "), QStringLiteral("*.pdf"));
    request.defaultSuffix = QStringLiteral("pdf");
    request.folder = PeakDataFolder();
    request.save = true;
    const QString pdf = PromptFile(this, request);
    if (pdf.isEmpty()) return;
    printed = page->PrintToPdf(*printer_, pdf, &why);
  } else {
    printed = page->Print(*printer_, &why);
  }
  if (!printed) ShowError(this, QStringLiteral("The page could not be printed.\n\n%1").arg(why));
}

bool TfSetupPrint::PrintOn(QPrinter& printer) {
  const std::unique_ptr<TfPrint> page = ComposePage();
  if (!page) return false;
  QString why;
  if (!page->Print(printer, &why)) {
    ShowError(this, QStringLiteral("The page could not be printed.\n\n%1").arg(why));
    return false;
  }
  return true;
}

void TfSetupPrint::btnPreviewClick() {
  const std::unique_ptr<TfPrint> page = ComposePage();
  if (!page) return;
  QPrintPreviewDialog preview(printer_.get(), this);
  preview.setWindowTitle(QStringLiteral("Print Preview"));
  connect(&preview, &QPrintPreviewDialog::paintRequested, this, [&page](QPrinter* printer) {
    QString ignored;
    page->Print(*printer, &ignored);
  });
  preview.exec();
}

void TfSetupPrint::PrinterSetup(QWidget* parent) {
  QPrintDialog dialog(printer_.get(), parent != nullptr ? parent : this);
  dialog.setWindowTitle(QStringLiteral("Printer Setup"));
  dialog.exec();
}

void TfSetupPrint::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
      move(screen->availableGeometry().center() - rect().center());
    }
  }
  QDialog::showEvent(event);
}

}  // namespace tv
