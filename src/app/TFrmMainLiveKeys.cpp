// The main window's ear on the line: with "Strict tone check" on, the keys
// heard on the live input are appended to labDTMF as they come (people
// monitor a line this way); with it off, live capture only feeds the
// displays.
#include <QCheckBox>
#include <QMetaObject>

#include "LiveKeyDecoder.h"
#include "TFrmMain.h"
#include "TMMLEDLabel.h"
#include "TMMWaveIn.h"
#include "TScanController.h"
#include "TfDtmf.h"

namespace tv {

void TFrmMain::CreateLiveKeyDecoder() {
  liveKeys_ = std::make_unique<LiveKeyDecoder>();
  // The caption labDTMF starts with is no key: the first key heard
  // replaces it.
  const QString designCaption = dtmfLine_->Caption();
  liveKeys_->OnKey = [this, designCaption](LiveKeyDecoder*, const StrictDtmfKey& key) {
    const QString text(QLatin1Char(key.key));
    QMetaObject::invokeMethod(
        this,
        [this, text, designCaption] {
          // Switched off meanwhile, or a scan has taken labDTMF over.
          if (!liveKeys_->Enabled() || scan_->Busy()) return;
          if (DtmfText() == designCaption) ClearDtmfText();
          AppendDtmfKey(text);
        },
        Qt::QueuedConnection);
  };

  // The input's own buffers, on its capture thread and before the chain
  // gets them: the connectors serve their displays from the GUI thread and
  // skip what a busy GUI thread misses, which a decoder must not.
  LiveKeyDecoder* keys = liveKeys_.get();
  waveIn_->OnBufferReady = [keys](TMMDSPComponent* sender, PWaveHdr buffer) {
    keys->Tap(sender->PWaveFormat(), buffer->lpData, static_cast<int32_t>(buffer->dwBytesRecorded));
  };
  waveIn_->OnStop = [keys](TMMDSPComponent*) { keys->EndStream(); };

  // The box shows the stored choice from the dialog's first show on; the
  // stored choice holds until then.
  liveKeys_->SetEnabled(TfDtmf::StoredStrictToneCheck());
  if (auto* strict = fDtmf_->findChild<QCheckBox*>(QStringLiteral("cbStrict"))) {
    connect(strict, &QCheckBox::toggled, this, [this](bool on) { liveKeys_->SetEnabled(on); });
  }
}

}  // namespace tv
