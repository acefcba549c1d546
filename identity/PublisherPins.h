#pragma once
// The publishers whose signature lets an installer start, fixed when the program
// is built (CMake cache variable ORIVANTA_PUBLISHER_KEYS). Nothing at run time adds to them.

#include <span>
#include <string>

namespace orivanta {

// SHA-256 digest texts of the DER SubjectPublicKeyInfo of each key that may sign
// the vendor's installers; empty in a build that pins none.
std::span<const std::string> PublisherPins();

}  // namespace orivanta
