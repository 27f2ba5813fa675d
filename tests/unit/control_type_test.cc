// Which control counts as a button or a menu, and which Inbox item as a mail item.
#include <gtest/gtest.h>

#include "cleanup/outlook/outlook_cleanup.h"
#include "office/control_type.h"

namespace corvix {
namespace {

struct Kind {
  std::optional<std::int32_t> type;
  bool button;
  bool popup;
};

TEST(ControlType, OnlyMsoControlButtonIsAButtonAndOnlyThePopupKindsAreMenus) {
  const Kind kinds[] = {
      {1, true, false},                                  // msoControlButton
      {10, false, true},                                 // msoControlPopup
      {11, false, true},                                 // msoControlGraphicPopup
      {12, false, true},                                 // msoControlButtonPopup
      {13, false, true},                                 // msoControlSplitButtonPopup
      {14, false, true},                                 // msoControlSplitButtonMRUPopup
      {0, false, false},                                 // msoControlCustom
      {2, false, false},                                 // msoControlEdit
      {3, false, false},                                 // msoControlDropdown
      {4, false, false},                                 // msoControlComboBox
      {9, false, false},                                 // msoControlSplitDropdown
      {15, false, false},                                // msoControlLabel
      {16, false, false},                                // msoControlExpandingGrid
      {-1, false, false}, {std::nullopt, false, false},  // Type could not be read, or was not an integer
  };
  for (const Kind& kind : kinds) {
    SCOPED_TRACE(kind.type ? std::to_string(*kind.type) : "none");
    EXPECT_EQ(kind.button, IsButtonType(kind.type));
    EXPECT_EQ(kind.popup, IsPopupType(kind.type));
  }
}

TEST(ItemClass, OnlyOlMailIsAMailItem) {
  EXPECT_TRUE(IsMailItemClass(43));             // olMail
  EXPECT_FALSE(IsMailItemClass(53));            // olMeetingRequest
  EXPECT_FALSE(IsMailItemClass(46));            // olReport
  EXPECT_FALSE(IsMailItemClass(26));            // olAppointment
  EXPECT_FALSE(IsMailItemClass(std::nullopt));  // Class could not be read
}

}  // namespace
}  // namespace corvix
