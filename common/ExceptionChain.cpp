#include "common/ExceptionChain.h"

#include "common/Utf.h"

namespace orivanta {

std::wstring ExceptionChain(const std::exception& failure) {
    std::wstring chain = Utf8ToUtf16(failure.what());
    // A failure nested outside a handler carries no cause; rethrowing that
    // would terminate the process inside its last-resort handler.
    const auto* nested = dynamic_cast<const std::nested_exception*>(&failure);
    if (nested == nullptr || !nested->nested_ptr()) return chain;
    try {
        std::rethrow_exception(nested->nested_ptr());
    } catch (const std::exception& cause) {
        chain += L" -> " + Utf8ToUtf16(cause.what());
    } catch (...) {
    }
    return chain;
}

}  // namespace orivanta
