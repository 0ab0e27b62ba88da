#!/usr/bin/env bash
# Installs every Debian 12 package the build and the tests need. Safe to run again.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
APT=(env DEBIAN_FRONTEND=noninteractive apt-get -y -o DPkg::Lock::Timeout=600 --no-install-recommends)

# 32-bit Wine needs the i386 libraries, also on hosts that cannot execute them: the USB rig's
# guest runs them from this machine's files.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi

PACKAGES=(
  build-essential cmake ninja-build pkg-config git
  googletest libgtest-dev libgmock-dev
  clang clang-tidy clang-format cppcheck libclang-rt-14-dev
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
  wine wine32:i386 wine64 fonts-wine fonts-wqy-microhei
  xvfb xauth xdotool imagemagick x11-utils
  libudev-dev
  libcli11-dev nlohmann-json3-dev
  qt6-base-dev qt6-base-dev-tools libqt6widgets6 libgl-dev
  python3 python3-jsonschema
  qemu-system-x86 cpio xz-utils
  libsystemd-shared
  libsystemd-dev dbus-daemon python3-dbusmock
  help2man groff-base bsdextrautils lintian
  dpkg-dev osslsigncode openssl appstream
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  # Lists may be stale or lack the i386 architecture: refresh them whenever something is missing.
  $SUDO apt-get -o DPkg::Lock::Timeout=600 update
  $SUDO "${APT[@]}" install "${missing[@]}"
fi
echo "install-deps: all packages present"
