#pragma once
#include <exception>
#include <string>

namespace orivanta {

// The failure's message and, when it carries a nested cause, " -> " and the
// cause's own message. Deeper causes are not followed.
std::wstring ExceptionChain(const std::exception& failure);

}  // namespace orivanta
