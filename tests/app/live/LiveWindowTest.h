// The main window on the virtual sound devices, and waiting for what it
// does while its event loop runs.
#pragma once

#include <QTest>
#include <chrono>
#include <functional>

#include "TMMVirtualDevices.h"
#include "../window/WindowTestEnv.h"

namespace tv::test {

// Processes events until `done` holds or `ms` have passed.
inline bool WaitFor(const std::function<bool()>& done, int ms = 5000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    QTest::qWait(10);
  }
  return true;
}

class VirtualDevicesWindowTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    SetSystemWaveDevices(&devices_);
  }
  void TearDown() override {
    SetSystemWaveDevices(nullptr);
    WindowTest::TearDown();
  }

  TMMVirtualDevices devices_;
};

}  // namespace tv::test
