#pragma once
// Whether a card window may talk to the logger now: the configuration table and capabilities are
// read afresh, and a logger that is logging or enabled is refused with the window's message.
#include "link/logger_link.h"
#include "shell/messages.h"

namespace klx {

bool CardAccessAllowed(LoggerLink& logger, Msg caption, Msg loggingText);

}  // namespace klx
