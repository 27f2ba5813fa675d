// Whether the completion message can be answered, and whether the hidden form takes the startup show state.
#include "app/completion_message.h"

#include <gtest/gtest.h>

namespace corvix {
namespace {

TEST(CompletionMessage, OnlyAWindowStationWithVisibleSurfacesHasSomeoneToPressOk) {
  EXPECT_TRUE(SomeoneCanAnswer(kStationVisible));        // WinSta0 of a user's session
  EXPECT_TRUE(SomeoneCanAnswer(kStationVisible | 0x6));  // other bits do not matter
  EXPECT_FALSE(SomeoneCanAnswer(0u));                    // a service's window station in session 0
  EXPECT_FALSE(SomeoneCanAnswer(0xFFFFFFFEu));
  // Flags that could not be read are no evidence that no one is there.
  EXPECT_TRUE(SomeoneCanAnswer(std::nullopt));
}

TEST(CompletionMessage, TheFormTakesOnlyAHiddenStartupShowState) {
  EXPECT_TRUE(FormTakesStartupShowState(kShowHidden));
  EXPECT_FALSE(FormTakesStartupShowState(std::nullopt));  // no STARTF_USESHOWWINDOW: nothing to take
  // Normal, minimised, maximised, not activated: taking them would show the form, so the box takes them.
  for (std::uint16_t shown : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}) {
    EXPECT_FALSE(FormTakesStartupShowState(shown)) << shown;
  }
}

}  // namespace
}  // namespace corvix
