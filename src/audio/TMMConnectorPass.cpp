// The connector's data side: tapping the passing stream on the delivering
// thread, and the trigger pass that serves the displays chunk by chunk.
#include <algorithm>
#include <cstring>
#include <exception>

#include "ConnectorPump.h"
#include "ConnectorSlots.h"
#include "MMDispatch.h"
#include "MMUtils.h"
#include "TMMConnector.h"

namespace tv {

// ---------------------------------------------------------------------------
// Data

void TMMConnector::BufferReady(PWaveHdr buffer) {
  // The wave output hands on the buffer it has just played and points
  // NextInRing at the one playing now: that one is heard now.
  const TMMBufferHeader* tap = buffer;
  if (synchronize_.load() && buffer->NextInRing != nullptr &&
      buffer->NextInRing->dwBytesRecorded > 0) {
    tap = buffer->NextInRing;
  }
  TapData(tap->lpData, static_cast<int32_t>(tap->dwBytesRecorded));
  TMMDSPComponent::BufferReady(buffer);
}

void TMMConnector::BufferLoad(PWaveHdr buffer, bool& moreBuffers) {
  TMMDSPComponent::BufferLoad(buffer, moreBuffers);
  TapData(buffer->lpData, static_cast<int32_t>(buffer->dwBytesRecorded));
}

void TMMConnector::TapData(const void* data, int32_t bytes) {
  if (!enabled_.load() || paused_.load() || !running_.load() || data == nullptr || bytes <= 0) {
    return;
  }
  try {
    const int64_t stamp = Clock().Microseconds();
    {
      std::lock_guard lock(dataLock_);
      if (back_.empty() || paused_.load()) return;
      const int32_t count = std::min(bytes, tapLimit_);
      const auto room = static_cast<int32_t>(back_.size());
      int32_t valid = 0;
      if (conversion_) {
        valid = std::min(conversion_->Convert(data, count, back_.data(), room), room);
        if (valid <= 0) return;
      } else {
        valid = std::min(count, room);
        std::memcpy(back_.data(), data, static_cast<size_t>(valid));
      }
      backValid_ = valid;
      incoming_ = true;
      incomingStamp_ = stamp;
      nextDue_.store(kNow);
    }
    if (inPump_.load()) ConnectorPump::Instance()->Wake();
  } catch (...) {
    Report(std::current_exception());
    return;
  }
  if (!realTime_.load() && autoTrigger_.load()) TriggerPass();
}

void TMMConnector::RunTrigger() {
  if (!enabled_.load()) return;
  if (!(active_.load() || (running_.load() && !realTime_.load()))) return;
  if (autoTrigger_.load() && triggerMethod_.load() == tmMessage) return;
  if (timerPosts_.load() > 0) return;
  if (MainDispatcher().IsMainThread()) {
    TriggerPass();
    return;
  }
  timerPosts_.fetch_add(1);
  std::weak_ptr<int> alive = alive_;
  MainDispatcher().Post([this, alive] {
    if (alive.expired()) return;
    if (enabled_.load() && active_.load()) TriggerPass();
    int posts = timerPosts_.load();
    while (posts > 0 && !timerPosts_.compare_exchange_weak(posts, posts - 1)) {
    }
  });
}

// ---------------------------------------------------------------------------
// The trigger pass

bool TMMConnector::Due(int32_t position, int64_t now) const {
  if (!synchronize_.load()) return true;
  // At least position / bytes-per-second seconds after the arrival.
  return (now - arrival_) * static_cast<int64_t>(displayFormat_->nAvgBytesPerSec) >=
         static_cast<int64_t>(position) * 1000000;
}

int64_t TMMConnector::DueTime(int32_t position) const {
  const auto perSecond = static_cast<int64_t>(displayFormat_->nAvgBytesPerSec);
  return arrival_ + (static_cast<int64_t>(position) * 1000000 + perSecond - 1) / perSecond;
}

int64_t TMMConnector::NextDue(int64_t now) const {
  int64_t due = kNever;
  for (int k = 0; k < kDisplayKinds; ++k) {
    if (!pending_[k]) continue;
    if (!synchronize_.load()) return now;
    if (k == dkSpectrogram) {
      for (int s = 0; s < 2; ++s) {
        if (slots_[dsSpectrogram1 + s] != nullptr) {
          due = std::min(due, DueTime(spectrogramPosition_[s]));
        }
      }
    } else {
      due = std::min(due, DueTime(position_[k]));
    }
  }
  return due;
}

void TMMConnector::TriggerPass() {
  if (!enabled_.load()) return;
  if (!(active_.load() || (running_.load() && !realTime_.load()))) return;
  std::exception_ptr error;
  {
    std::lock_guard pass(passLock_);
    if (front_.empty() || !displayFormat_) return;
    {
      std::lock_guard data(dataLock_);
      if (incoming_) {
        front_.swap(back_);
        std::swap(frontValid_, backValid_);
        arrival_ = incomingStamp_;
        incoming_ = false;
        for (int k = 0; k < kDisplayKinds; ++k) {
          bool attached = false;
          for (int s = kKindFirst[k]; s <= kKindLast[k]; ++s) attached |= slots_[s] != nullptr;
          if (!attached) continue;
          pending_[k] = true;
          position_[k] = 0;
          if (k == dkSpectrogram) spectrogramPosition_.fill(0);
        }
      }
    }
    const int64_t now = Clock().Microseconds();
    for (int k = 0; k < kDisplayKinds; ++k) {
      if (!pending_[k]) continue;
      try {
        if (k == dkSpectrogram) {
          ServeSpectrograms(now, error);
        } else {
          ServeKind(static_cast<TMMDisplayKind>(k), now, error);
        }
      } catch (...) {
        // A display that cannot say its chunk size is left out of this piece.
        pending_[k] = false;
        if (!error) error = std::current_exception();
      }
    }
    const int64_t due = NextDue(now);
    std::lock_guard data(dataLock_);
    nextDue_.store(incoming_ ? kNow : due);
  }
  if (OnTrigger) {
    try {
      OnTrigger(this);
    } catch (...) {
      if (!error) error = std::current_exception();
    }
  }
  if (error) Report(error);
}

void TMMConnector::ServeKind(TMMDisplayKind kind, int64_t now, std::exception_ptr& error) {
  int32_t chunk = 0;
  for (int s = kKindFirst[kind]; s <= kKindLast[kind]; ++s) {
    if (slots_[s] != nullptr) chunk = std::max(chunk, slots_[s]->FrameBytes());
  }
  if (chunk <= 0) {
    // Nothing to hand over: a chunk of no bytes would never use the data up.
    pending_[kind] = false;
    return;
  }
  int32_t position = position_[kind];
  if (!Due(position, now)) return;
  int32_t advance = chunk;
  if (kind == dkOscope) {
    const WAVEFORMATEX* f = displayFormat_.get();
    if (triggerMode_.load() != tmNone && !paused_.load() && frontValid_ > position) {
      const int32_t found = FindTriggerPoint(f, front_.data() + position, frontValid_ - position,
                                             triggerLevel_.load(), triggerMode_.load(), 0);
      // A crossing found on the second channel lies inside a frame; the
      // picture starts at that frame so the channels keep their places.
      if (found > 0) position += found - found % Max(f->nBlockAlign, 1);
    }
    TMMDisplay* lead = slots_[dsOscope1] != nullptr ? slots_[dsOscope1] : slots_[dsOscope2];
    if (lead != nullptr && lead->Scrolling() && lead->Accelerated()) {
      const int32_t step = lead->FFTLength() / 4 * (f->wBitsPerSample / 8) * f->nChannels;
      if (step > 0) advance = step;
    }
  }
  // A pass that comes late (the main thread was busy, the pump woke late)
  // serves every chunk that fell due meanwhile, in order: a meter must see
  // every peak, and one chunk a pass would leave the displays trailing the
  // sound for the rest of the buffer. The oscilloscope shows only the newest
  // picture, so it takes one chunk a pass.
  const bool catchUp = kind != dkOscope && synchronize_.load();
  for (;;) {
    if (position + chunk > frontValid_) {
      pending_[kind] = false;
      position_[kind] = position;
      return;
    }
    position_[kind] = position + advance;
    const uint8_t* start = front_.data() + position;
    for (int s = kKindFirst[kind]; s <= kKindLast[kind]; ++s) {
      if (slots_[s] == nullptr) continue;
      try {
        slots_[s]->FeedPCM(start);
      } catch (...) {
        if (!error) error = std::current_exception();
      }
    }
    ++deliveries_[kind];
    position = position_[kind];
    if (!catchUp || !Due(position, now)) return;
  }
}

void TMMConnector::ServeSpectrograms(int64_t now, std::exception_ptr& error) {
  bool delivered = false;
  bool left = false;
  for (int s = 0; s < 2; ++s) {
    TMMDisplay* d = slots_[dsSpectrogram1 + s];
    if (d == nullptr) continue;
    const int32_t chunk = d->FrameBytes();
    int32_t& position = spectrogramPosition_[s];
    if (chunk <= 0 || position + chunk > frontValid_) continue;
    if (Due(position, now)) {
      int32_t advance = d->Accelerated() ? chunk / 4 : chunk;
      if (advance <= 0) advance = chunk;
      const uint8_t* start = front_.data() + position;
      position += advance;
      delivered = true;
      try {
        d->FeedPCM(start);
      } catch (...) {
        if (!error) error = std::current_exception();
      }
    }
    left |= position + chunk <= frontValid_;
  }
  if (delivered) ++deliveries_[dkSpectrogram];
  if (!left) pending_[dkSpectrogram] = false;
}

// One message per run: a display that fails fails on every chunk, and a
// box per chunk would bury the program (each box also runs the pump again).
void TMMConnector::Report(const std::exception_ptr& error) {
  if (!error || errorReported_.exchange(true)) return;
  try {
    std::rethrow_exception(error);
  } catch (...) {
    HandleApplicationError();
  }
}

}  // namespace tv
