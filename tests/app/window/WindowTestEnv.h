// Every window test runs against a private preference store and data folder
// and sees the program's message boxes as a list instead of modal boxes.
#pragma once

#include <gtest/gtest.h>

#include <QDialog>
#include <QList>
#include <QObject>
#include <QString>
#include <cstdlib>
#include <utility>
#include <vector>

#include "DataFolder.h"
#include "Messages.h"
#include "Preferences.h"
#include "TestFiles.h"

namespace tv::test {

inline void CollectNamed(const QObject* parent, const QString& name, QList<QObject*>& found) {
  for (QObject* child : parent->children()) {
    if (qobject_cast<QDialog*>(child) != nullptr) continue;  // another window
    if (child->objectName() == name) found << child;
    CollectNamed(child, name, found);
  }
}

// The control of a window by the name it carries, not looking into the
// other windows it owns (its dialogs). Fails the test unless exactly one
// control of that kind has the name.
template <class T>
T* Find(const QObject& window, const char* name) {
  QList<QObject*> found;
  CollectNamed(&window, QString::fromLatin1(name), found);
  T* hit = nullptr;
  int count = 0;
  for (QObject* o : found) {
    if (auto* t = qobject_cast<T*>(o)) {
      hit = t;
      ++count;
    }
  }
  EXPECT_EQ(count, 1) << name;
  return hit;
}

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
