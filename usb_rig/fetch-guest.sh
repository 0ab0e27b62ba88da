#!/usr/bin/env bash
# Fetches what the test guest needs from Debian's packages, without installing any of them on
# this machine: the current amd64 kernel (its image and modules), busybox-static for the
# initramfs, sg3-utils for the benchmark's baseline, udev for the guest's own udevd (hot-plug
# events). Everything lands in CACHE_DIR, unpacked.
# Usage: fetch-guest.sh CACHE_DIR      Prints nothing but progress; exit 0 when all is there.
set -euo pipefail

cache=${1:?usage: fetch-guest.sh CACHE_DIR}
mkdir -p "$cache/debs"
cache=$(cd "$cache" && pwd)

need() { command -v "$1" >/dev/null 2>&1 || { echo "fetch-guest: '$1' is missing (run scripts/install-deps.sh)" >&2; exit 2; }; }
need apt-get
need dpkg-deb
need xz

# The kernel package that linux-image-amd64 currently points at.
kernel_pkg=$(apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/ {print $2; exit}')
if [ -z "$kernel_pkg" ]; then
  echo "fetch-guest: apt knows no linux-image-amd64 (run apt-get update)" >&2
  exit 2
fi
stamp="$cache/ready-$kernel_pkg"
# udev came later than the rest: a cache made before it only needs the one package added.
if [ -f "$stamp" ] && [ -f "$cache/vmlinux" ] && [ -x "$cache/udev/bin/udevadm" ]; then
  exit 0
fi

packages=("$kernel_pkg" busybox-static sg3-utils udev)
# sg_raw links against the library of its own source package.
sglib=$(apt-cache depends sg3-utils 2>/dev/null | awk '/Depends: libsgutils2/ {print $2; exit}')
[ -n "$sglib" ] && packages+=("$sglib")

cd "$cache/debs"
for p in "${packages[@]}"; do
  if ! ls "${p}"_*.deb >/dev/null 2>&1; then
    echo "fetch-guest: downloading $p"
    # apt-get download refuses to write as root into a folder its sandbox user cannot reach.
    if ! apt-get download -o APT::Sandbox::User=root "$p" >/dev/null; then
      # Stale package lists name versions the mirror no longer has: refresh them once, as root.
      if [ "$(id -u)" -eq 0 ] && [ -z "${refreshed:-}" ]; then
        refreshed=1
        apt-get -o DPkg::Lock::Timeout=600 update >/dev/null || true
        apt-get download -o APT::Sandbox::User=root "$p" >/dev/null && continue
      fi
      echo "fetch-guest: apt-get download $p failed" >&2
      exit 2
    fi
  fi
done

rm -rf "$cache/udev"
mkdir -p "$cache/udev"
# udevd links the host's libsystemd-shared (systemd is on every Debian host that runs this).
dpkg-deb -x "$(ls udev_*.deb | head -1)" "$cache/udev"
if [ -f "$stamp" ] && [ -f "$cache/vmlinux" ]; then
  echo "fetch-guest: udev added to $cache"
  exit 0
fi

rm -rf "$cache/kernel" "$cache/busybox" "$cache/sg3"
mkdir -p "$cache/kernel" "$cache/busybox" "$cache/sg3"
dpkg-deb -x "$(ls "${kernel_pkg}"_*.deb | head -1)" "$cache/kernel"
dpkg-deb -x "$(ls busybox-static_*.deb | head -1)" "$cache/busybox"
for deb in sg3-utils_*.deb libsgutils2*.deb; do
  [ -f "$deb" ] && dpkg-deb -x "$deb" "$cache/sg3"
done

bzimage=$(ls "$cache"/kernel/boot/vmlinuz-* | head -1)
release=${bzimage##*/vmlinuz-}
echo "$release" > "$cache/kernel-release"

# The bzImage carries the kernel as one XZ stream: unpack it once so that the emulated CPU does
# not spend seconds on it at every boot. qemu boots the ELF through its PVH entry.
offset=$(LC_ALL=C grep -abo $'\xfd7zXZ\x00' "$bzimage" | head -1 | cut -d: -f1)
if [ -z "$offset" ]; then
  echo "fetch-guest: no XZ payload in $bzimage" >&2
  exit 2
fi
tail -c +$((offset + 1)) "$bzimage" | xz -dc --single-stream > "$cache/vmlinux.tmp" 2>/dev/null || true
if [ "$(head -c 4 "$cache/vmlinux.tmp" | od -An -tx1 | tr -d ' ')" != "7f454c46" ]; then
  echo "fetch-guest: the payload of $bzimage is not an ELF kernel" >&2
  exit 2
fi
mv "$cache/vmlinux.tmp" "$cache/vmlinux"
rm -f "$cache"/ready-*
touch "$stamp"
echo "fetch-guest: kernel $release ready in $cache"
