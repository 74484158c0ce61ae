#pragma once
// The logger status codes as "CommGet" 9 leaves them in `LoggerStatus::code`.

namespace klx {

// True for the idle statuses 0, 4 and 8 (not enabled, complete, stopped by user).
inline bool StatusIsIdle(int code) {
  return code == 0 || code == 4 || code == 8;
}

}  // namespace klx
