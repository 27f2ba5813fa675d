// What kind of command-bar control an object is, from the Type it reports.
//
// Portable and pure. A control says what it is through its own IDispatch (its `Type`, an MsoControlType),
// so the test needs nothing from Office but the object: no interface is asked for, and no type library
// has to be registered on the machine for the caller's bitness.
#pragma once

#include <cstdint>
#include <optional>

namespace corvix {

// Office's MsoControlType values that the clean-ups tell apart.
namespace mso_control {
inline constexpr std::int32_t kButton = 1;                // msoControlButton
inline constexpr std::int32_t kPopup = 10;                // msoControlPopup: a menu
inline constexpr std::int32_t kGraphicPopup = 11;         // msoControlGraphicPopup
inline constexpr std::int32_t kButtonPopup = 12;          // msoControlButtonPopup
inline constexpr std::int32_t kSplitButtonPopup = 13;     // msoControlSplitButtonPopup
inline constexpr std::int32_t kSplitButtonMRUPopup = 14;  // msoControlSplitButtonMRUPopup
}  // namespace mso_control

// A control is a button only when it says it is one. `type` is empty when the control's Type could not
// be read or was not an integer: that counts as not a button, so the control stays where it is.
bool IsButtonType(std::optional<std::int32_t> type);

// A control is a menu (it opens a bar of its own) when its Type is one of the pop-up kinds.
bool IsPopupType(std::optional<std::int32_t> type);

}  // namespace corvix
