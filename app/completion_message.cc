// Who can answer the completion message, and the show state the hidden form takes.
#include "app/completion_message.h"

namespace corvix {

bool SomeoneCanAnswer(std::optional<std::uint32_t> stationFlags) {
  return !stationFlags || (*stationFlags & kStationVisible) != 0;
}

bool FormTakesStartupShowState(std::optional<std::uint16_t> startupShowState) {
  return startupShowState == kShowHidden;
}

}  // namespace corvix
