#include "TfSpecBack.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <vector>

#include "DataFolder.h"
#include "FileRequest.h"
#include "FrozenSpectrumFile.h"
#include "Messages.h"
#include "TMMSpectrum.h"

namespace tv {

TfSpecBack::TfSpecBack(TMMSpectrum& main, QWidget* parent)
    : QWidget(parent), main_(main) {
  setObjectName(QStringLiteral("fSpecBack"));
  // A window of its own, owned by the main window but never shown with it.
  setWindowFlags(Qt::Window);
  setAttribute(Qt::WA_DontShowOnScreen);
  resize(kWidth, kHeight);
  SpeckBack = new TMMSpectrum(this, TMMSpectrumDesign::Background);
  // The picture is the plot alone: no frame, no scales.
  SpeckBack->SetBevel(bvNone);
  SpeckBack->resize(main_.size());
  TMMSpectrumCalc& back = SpeckBack->Calc();
  const TMMSpectrumCalc& live = main_.Calc();
  back.SetEnabled(true);
  back.SetLogAmp(live.LogAmp());
  back.SetFFTLength(live.FFTLength());
  back.SetLogFreq(live.LogFreq());
  SpeckBack->SetSpotSpace(main_.SpotSpace());
  back.SetGain(live.Gain());
  back.SetDecayMode(live.DecayMode());
  back.SetWindow(live.Window());
  back.SetVerticalScale(live.VerticalScale());
  back.SetFrequencyScale(live.FrequencyScale());
  // The picture is drawn without a live frame, so no markers were taken:
  // a peak line would lie flat along the bottom.
  back.SetNumPeaks(0);
}

bool TfSpecBack::LoadBackground() {
  SpeckBack->Calc().SetEnabled(false);
  TFileRequest request;
  request.title = QStringLiteral("Load Tonvista Peak Data");
  request.filter = NameFilter(QStringLiteral("Tonvista Peak Data "), QStringLiteral("*.sav"));
  request.defaultSuffix = QStringLiteral("sav");
  request.folder = PeakDataFolder();
  const QString chosen = PromptFile(parentWidget() != nullptr ? parentWidget() : &main_, request);
  if (chosen.isEmpty()) return false;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  SpeckBack->SetKind(skLines);
  const bool ok = Apply(chosen);
  QApplication::restoreOverrideCursor();
  return ok;
}

void TfSpecBack::ReapplyBackground() {
  if (file_.isEmpty() || !main_.UseBackGroundDIB()) return;
  SpeckBack->Calc().SetEnabled(false);
  Apply(file_);
}

void TfSpecBack::ClearBackground() { main_.SetUseBackGroundDIB(false); }

bool TfSpecBack::Apply(const QString& file) {
  std::vector<int32_t> levels;
  QString why;
  const int32_t fftLength = main_.Calc().FFTLength();
  // Drawn at another length, the picture would lie on another frequency
  // axis than the live trace.
  if (ReadFrozenLevels(file, levels, &why) && levels.size() != static_cast<size_t>(fftLength / 2)) {
    why = QStringLiteral("It holds %1 levels; the display shows %2 (a %3-point spectrum).")
              .arg(levels.size())
              .arg(fftLength / 2)
              .arg(fftLength);
  }
  if (!why.isEmpty()) {
    ShowError(parentWidget() != nullptr ? parentWidget() : &main_,
              IncompatibleBackgroundMessage() + QStringLiteral("\n\n") +
                  QDir::toNativeSeparators(file) + QLatin1Char('\n') + why);
    return false;
  }
  TMMSpectrumCalc& back = SpeckBack->Calc();
  const TMMSpectrumCalc& live = main_.Calc();
  back.SetSampleRate(live.SampleRate());
  back.SetLogFreq(false);
  back.SetGain(live.Gain());
  back.SetFFTLength(fftLength);
  back.SetLogFreq(live.LogFreq());
  back.SetVerticalScale(live.VerticalScale());
  back.SetFrequencyScale(live.FrequencyScale());
  back.SetFFTLength(fftLength);
  SpeckBack->SetScaleLineColor(main_.ScaleLineColor());
  SpeckBack->SetScaleTextColor(main_.ScaleTextColor());
  SpeckBack->SetGridColor(main_.GridColor());
  // Drawn at the size of the live plot, so its columns are the live ones.
  const QSize plot = main_.PlotRect().size();
  SpeckBack->resize(plot);
  SpeckBack->PlotRect();  // settles the layout before the levels go in
  std::copy(levels.begin(), levels.end(), back.BinLevels().begin());
  QImage picture(plot, QImage::Format_RGB32);
  picture.fill(SpeckBack->Color());
  {
    QPainter p(&picture);
    SpeckBack->paint(p, QRectF(QPointF(0, 0), QSizeF(plot)));
  }
  main_.SetBackGroundDIB(picture);
  main_.SetUseBackGroundDIB(true);
  file_ = file;
  return true;
}

}  // namespace tv
