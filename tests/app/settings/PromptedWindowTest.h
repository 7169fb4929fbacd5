// A window test whose file dialogs are answered with `answer_` (empty:
// cancelled) and recorded in `requests_`.
#pragma once

#include <QString>
#include <vector>

#include "FileRequest.h"
#include "../window/WindowTestEnv.h"

namespace tv::test {

class PromptedWindowTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    SetFileRequestPrompt([this](QWidget*, const TFileRequest& r) {
      requests_.push_back(r);
      return answer_;
    });
  }
  void TearDown() override {
    SetFileRequestPrompt({});
    WindowTest::TearDown();
  }

  std::vector<TFileRequest> requests_;
  QString answer_;
};

}  // namespace tv::test
