// The control type tests.
#include "office/control_type.h"

namespace corvix {

bool IsButtonType(std::optional<std::int32_t> type) { return type == mso_control::kButton; }

bool IsPopupType(std::optional<std::int32_t> type) {
  if (!type) return false;
  switch (*type) {
    case mso_control::kPopup:
    case mso_control::kGraphicPopup:
    case mso_control::kButtonPopup:
    case mso_control::kSplitButtonPopup:
    case mso_control::kSplitButtonMRUPopup:
      return true;
    default:
      return false;
  }
}

}  // namespace corvix
