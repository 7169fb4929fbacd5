// Every window test runs against a private preference store and data folder
// and sees the program's message boxes as a list instead of modal boxes.
#pragma once

#include <gtest/gtest.h>

#include <QString>
#include <cstdlib>
#include <utility>
#include <vector>

#include "DataFolder.h"
#include "Messages.h"
#include "Preferences.h"
#include "TestFiles.h"

namespace tv::test {

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv(kConfigDirVariable, dir_.File("config").c_str(), 1);
    setenv(kDataDirVariable, dir_.File("data").c_str(), 1);
    SetMessageSink([this](QWidget*, const QString& text, MessageKind kind) {
      messages_.emplace_back(text, kind);
    });
  }
  void TearDown() override {
    SetMessageSink({});
    unsetenv(kConfigDirVariable);
    unsetenv(kDataDirVariable);
  }

  static int ReadInt(const QString& key, const QString& name, int fallback) {
    return ReadPreference(PreferenceRoot::CurrentUser, key, name, fallback);
  }
  static void WriteInt(const QString& key, const QString& name, int value) {
    WritePreference(PreferenceRoot::CurrentUser, key, name, value);
  }
  QString File(const char* name) const { return QString::fromStdString(dir_.File(name)); }

  TempDir dir_;
  std::vector<std::pair<QString, MessageKind>> messages_;
};

}  // namespace tv::test
