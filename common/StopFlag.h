#pragma once
#include <atomic>

namespace orivanta {

// Set by another thread to ask a long operation to stop at its next check: the
// operations poll it between blocks or attempts and never clear it themselves.
using StopFlag = std::atomic<bool>;

}  // namespace orivanta
