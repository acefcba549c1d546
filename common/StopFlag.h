#pragma once
#include <atomic>
#include <stdexcept>

namespace orivanta {

// Set by another thread to ask a long operation to stop at its next check: the
// operations poll it between blocks or attempts and never clear it themselves.
using StopFlag = std::atomic<bool>;

// Raised by an operation that gave way to a set stop flag, so that the caller can
// tell a pause from a failure; its text is "paused".
class StopRequested : public std::runtime_error {
public:
    StopRequested() : std::runtime_error("paused") {}
};

}  // namespace orivanta
