#include "cards/access.h"

#include "link/status_codes.h"
#include "shell/status.h"

namespace klx {

bool CardAccessAllowed(LoggerLink& logger, Msg caption, Msg loggingText) {
  logger.state.capabilitiesStale = true;
  logger.state.configurationStale = true;
  logger.AssessCapabilities();
  if (logger.CommGet(16) != 1) return false;
  if (logger.CommGet(9) != 1) {
    ShowStatus(logger.host(), "Error - Unable to read the logger status");
    return false;
  }
  if (StatusIsIdle(logger.status.code)) return true;
  logger.host().Tell(MessageText(caption), MessageText(loggingText), BoxIcon::Warning);
  return false;
}

}  // namespace klx
