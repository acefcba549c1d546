#pragma once
#include <string>

namespace orivanta {

// A fresh GUID as 36 upper-case characters without braces; raises "GUID creation failed".
std::wstring NewGuidText();

}  // namespace orivanta
