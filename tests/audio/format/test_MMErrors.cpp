#include "MMErrors.h"

#include <gtest/gtest.h>

namespace tv {
namespace {

// The table joins an operation and its cause with a line feed and a
// carriage return; people see one plain line break, or one line.
TEST(Messages, ReachPeopleWithoutCarriageReturns) {
  const std::string joined = std::string("TriggerStart:") + kLFCR + "Unable to start device";
  EXPECT_EQ(PlainMessage(joined), "TriggerStart:\nUnable to start device");
  EXPECT_EQ(OneLineMessage(joined), "TriggerStart: Unable to start device");
  EXPECT_EQ(PlainMessage("a\r\nb\rc\n\nd"), "a\nb\nc\n\nd");
  EXPECT_EQ(OneLineMessage("a \n\rb\n"), "a b");
  EXPECT_EQ(OneLineMessage("plain"), "plain");
  EXPECT_EQ(LoadResString(SErrorWritingWaveFile), "Error writing wave file");
  EXPECT_EQ(LoadResString(1), LoadResString(SUnknownError));
}

}  // namespace
}  // namespace tv
