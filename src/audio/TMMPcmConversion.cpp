#include "TMMPcmConversion.h"

#include <atomic>

namespace tv {

namespace {

std::atomic<TMMPcmConversionProvider*> gProvider{nullptr};

}  // namespace

void SetPcmConversionProvider(TMMPcmConversionProvider* provider) {
  gProvider.store(provider, std::memory_order_release);
}

TMMPcmConversionProvider* PcmConversionProvider() {
  return gProvider.load(std::memory_order_acquire);
}

}  // namespace tv
