#!/bin/bash
# Installs what building and testing need on a Debian 12 machine (run as root,
# or with sudo available). Does nothing when everything is already present.
set -euo pipefail

packages=(
  cmake ninja-build python3
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64
  wine wine64 xvfb xdotool x11-apps x11-utils imagemagick libgl1-mesa-dri
  googletest fonts-wqy-microhei python3-fonttools iproute2 qrencode icoutils zbar-tools
  openssl osslsigncode
)
# Wine's 32-bit loader runs the 32-bit build's tests. Its 32-bit OpenGL, X and
# Kerberos libraries (Direct2D, the window, the proxy log-on) are only recommended.
with_recommends=(wine32:i386)

missing=()
missing_with_recommends=()
installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}
for package in "${packages[@]}"; do
  installed "$package" || missing+=("$package")
done
for package in "${with_recommends[@]}"; do
  installed "$package" || missing_with_recommends+=("$package")
done
if [ ${#missing[@]} -eq 0 ] && [ ${#missing_with_recommends[@]} -eq 0 ]; then
  exit 0
fi

as_root=()
if [ "$(id -u)" -ne 0 ]; then
  as_root=(sudo)
fi
echo "installing: ${missing[*]} ${missing_with_recommends[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${as_root[@]}" dpkg --add-architecture i386
fi
"${as_root[@]}" apt-get update
if [ ${#missing[@]} -gt 0 ]; then
  DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi
if [ ${#missing_with_recommends[@]} -gt 0 ]; then
  DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y "${missing_with_recommends[@]}"
fi
