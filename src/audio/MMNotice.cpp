#include "MMNotice.h"

#include <cstdio>
#include <mutex>

namespace tv {

namespace {

std::mutex gLock;
InformationHandler gHandler;

}  // namespace

void SetInformationHandler(InformationHandler handler) {
  std::lock_guard lock(gLock);
  gHandler = std::move(handler);
}

void ShowInformation(const std::string& title, const std::string& text) {
  InformationHandler handler;
  {
    std::lock_guard lock(gLock);
    handler = gHandler;
  }
  if (handler) {
    handler(title, text);
  } else {
    std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
  }
}

}  // namespace tv
