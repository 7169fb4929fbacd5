// A window test with a prompt that answers file requests from a queue and
// remembers what it was asked, and ".sav" files written byte by byte.
#pragma once

#include <QString>
#include <deque>
#include <string>
#include <vector>

#include "../window/WindowTestEnv.h"
#include "FileRequest.h"

namespace tv::test {

class FrozenTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    SetFileRequestPrompt([this](QWidget*, const TFileRequest& request) {
      requests_.push_back(request);
      if (answers_.empty()) return QString();
      QString answer = answers_.front();
      answers_.pop_front();
      return answer;
    });
  }
  void TearDown() override {
    SetFileRequestPrompt({});
    WindowTest::TearDown();
  }

  // The text of a stored spectrum as the format has it.
  static std::string SavText(const std::vector<int32_t>& levels) {
    std::string text;
    for (int32_t v : levels) text += std::to_string(v) + "\r\n";
    return text;
  }
  void WriteText(const QString& path, const std::string& text) const {
    WriteAll(path.toStdString(), Bytes(text.begin(), text.end()));
  }
  static std::string ReadText(const QString& path) {
    const Bytes b = ReadAll(path.toStdString());
    return {b.begin(), b.end()};
  }

  std::deque<QString> answers_;
  std::vector<TFileRequest> requests_;
};

}  // namespace tv::test
