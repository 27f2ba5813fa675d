// How the completion message reaches the person who must press OK: the decisions, apart from Windows.
//
// Portable: app/win32/win_shell.cc reads the values from Windows and acts on the answers.
//
//   who can answer  a message box needs a window station that has visible display surfaces: the
//                   interactive one (WinSta0) has them; a service's, in session 0, has not, and a box shown
//                   there waits for an OK that never comes. There the run ends as a silent one does.
//   hidden start    a caller that starts Corvix hidden (STARTF_USESHOWWINDOW with SW_HIDE: Inno Setup's
//                   runhidden, a hidden console's ExecWait) hands that state to the first main window that
//                   the program shows, which would be the message box. The hidden form takes it first, so
//                   the box is shown as asked.
#pragma once

#include <cstdint>
#include <optional>

namespace corvix {

// A window station's UOI_FLAGS bit that says it has visible display surfaces (WSF_VISIBLE).
inline constexpr std::uint32_t kStationVisible = 0x0001;
// The show state that hides a window (SW_HIDE).
inline constexpr std::uint16_t kShowHidden = 0;

// Whether someone can press OK on a message box shown from a window station with `stationFlags`
// (none: they could not be read, which is not taken as a sign that no one is there).
bool SomeoneCanAnswer(std::optional<std::uint32_t> stationFlags);

// Whether the hidden form takes the show state the caller gave the program (none: no STARTF_USESHOWWINDOW)
// before any message box can. Only a hidden state: taking any other would show the form (a minimised one,
// on the taskbar), and leaving it costs the box no visibility.
bool FormTakesStartupShowState(std::optional<std::uint16_t> startupShowState);

}  // namespace corvix
