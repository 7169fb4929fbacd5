#include "LiveKeyDecoder.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <utility>

namespace tv {

namespace {

// What the worker takes from the ring at a time: about 46 ms of 44100 Hz
// 16-bit stereo, so that keys come out soon after they ended.
constexpr size_t kPieceBytes = 8192;

}  // namespace

LiveKeyDecoder::LiveKeyDecoder(const StrictDtmfOptions& options, size_t ringBytes)
    : options_(options), ring_(std::max<size_t>(ringBytes, 64)), piece_(kPieceBytes) {
  detector_.SetOptions(options_);
  detector_.OnKey = [this](const StrictDtmfKey& key) {
    if (OnKey) OnKey(this, key);
  };
  worker_ = std::thread([this] { Run(); });
}

LiveKeyDecoder::~LiveKeyDecoder() {
  {
    std::lock_guard lock(lock_);
    quit_ = true;
  }
  wake_.notify_all();
  worker_.join();
}

bool LiveKeyDecoder::Enabled() const {
  std::lock_guard lock(lock_);
  return enabled_;
}

void LiveKeyDecoder::SetEnabled(bool value) {
  {
    std::lock_guard lock(lock_);
    if (enabled_ == value) return;
    enabled_ = value;
    DropLocked();
  }
  wake_.notify_one();
}

int64_t LiveKeyDecoder::Overruns() const {
  std::lock_guard lock(lock_);
  return overruns_;
}

void LiveKeyDecoder::DropLocked() {
  head_ = 0;
  used_ = 0;
  written_ = 0;
  read_ = 0;
  endAt_ = -1;
  restart_ = true;
}

void LiveKeyDecoder::Tap(const WAVEFORMATEX* format, const void* data, int32_t bytes) {
  if (format == nullptr || data == nullptr || bytes <= 0) return;
  const Format f{static_cast<int>(format->nSamplesPerSec), static_cast<int>(format->nChannels),
                 static_cast<int>(format->wBitsPerSample)};
  if (format->wFormatTag != WAVE_FORMAT_PCM || (f.bits != 8 && f.bits != 16) || f.channels < 1 ||
      f.channels > 8 || f.rate < 4000 || f.rate > 384000) {
    return;
  }
  auto n = static_cast<size_t>(bytes);
  {
    std::lock_guard lock(lock_);
    if (!enabled_) return;
    if (!(f == format_)) {
      DropLocked();
      format_ = f;
    }
    if (n > ring_.size() - used_) {
      // The worker cannot keep up (or the buffer alone is larger than the
      // ring): what waits goes, and the stream starts over with this one.
      DropLocked();
      ++overruns_;
      if (n > ring_.size()) return;
    }
    const size_t tail = (head_ + used_) % ring_.size();
    const size_t first = std::min(n, ring_.size() - tail);
    const auto* bytesIn = static_cast<const uint8_t*>(data);
    std::memcpy(ring_.data() + tail, bytesIn, first);
    std::memcpy(ring_.data(), bytesIn + first, n - first);
    used_ += n;
    written_ += static_cast<int64_t>(n);
  }
  wake_.notify_one();
}

void LiveKeyDecoder::EndStream() {
  {
    std::lock_guard lock(lock_);
    if (!enabled_) return;
    endAt_ = written_;
  }
  wake_.notify_one();
}

bool LiveKeyDecoder::WaitIdle(std::chrono::milliseconds timeout) {
  std::unique_lock lock(lock_);
  return idle_.wait_for(lock, timeout,
                        [this] { return used_ == 0 && endAt_ < 0 && !restart_ && !busy_; });
}

void LiveKeyDecoder::Run() {
  bool fresh = true;  // the detector starts a stream with the next byte
  for (;;) {
    std::unique_lock lock(lock_);
    wake_.wait(lock, [this] { return quit_ || used_ > 0 || endAt_ >= 0 || restart_; });
    if (quit_) return;
    if (std::exchange(restart_, false)) fresh = true;
    const Format f = format_;
    size_t n = std::min(used_, piece_.size());
    if (endAt_ >= 0) n = std::min(n, static_cast<size_t>(endAt_ - read_));
    const size_t first = std::min(n, ring_.size() - head_);
    std::memcpy(piece_.data(), ring_.data() + head_, first);
    std::memcpy(piece_.data() + first, ring_.data(), n - first);
    head_ = (head_ + n) % ring_.size();
    used_ -= n;
    read_ += static_cast<int64_t>(n);
    const bool finish = endAt_ >= 0 && read_ >= endAt_;
    if (finish) endAt_ = -1;
    busy_ = true;
    lock.unlock();

    try {
      if (n > 0) {
        if (fresh) {
          detector_.Start(f.rate, f.channels, f.bits);
          fresh = false;
        }
        detector_.FeedBytes(piece_.data(), n);
      }
      // A stream dropped before it ended has nothing left to tell.
      if (finish && !fresh) {
        detector_.Finish();
        fresh = true;
      }
    } catch (const std::exception&) {
      // Tap lets through only formats the detector takes, and a key
      // handler that fails must not end the decoding: the stream starts
      // over with the next byte.
      fresh = true;
    }

    lock.lock();
    busy_ = false;
    if (used_ == 0 && endAt_ < 0 && !restart_) idle_.notify_all();
  }
}

}  // namespace tv
