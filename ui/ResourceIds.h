#pragma once
// Numbers of the program's embedded resources (resources/OrivantaInstaller.rc).

namespace orivanta {

constexpr int kIconResourceId = 101;
constexpr int kQrBitmapResourceId = 102;
constexpr int kLogoResourceId = 103;

}  // namespace orivanta
