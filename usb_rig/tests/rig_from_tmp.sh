#!/usr/bin/env bash
# The rig run from a copy of the tree under /tmp, in a folder whose name has a space: the guest
# mounts the host's root and puts a /tmp of its own over it, and its kernel command line ends a
# word at a space, so every path the guest uses must survive both. One scenario is enough.
#   rig_from_tmp.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
src=$(cd "${1:?usage: rig_from_tmp.sh SOURCE_DIR BUILD_DIR}" && pwd)
build=$(cd "${2:?usage: rig_from_tmp.sh SOURCE_DIR BUILD_DIR}" && pwd)

work=$(mktemp -d "/tmp/qvb rig copy.XXXXXX")
trap 'rm -rf "$work"' EXIT
copy="$work/checkout"
mkdir -p "$copy/build/usb_rig" "$copy/build/cli"
# The sources without their build folders, and the programs the guest runs.
tar -C "$src" --exclude=./build --exclude=./.git -cf - . | tar -C "$copy" -xf -
for program in cli/qvb886-fwupdate usb_rig/qvb-usb-gadget usb_rig/qvb-uas-gadget \
  usb_rig/qvb-rig-bench usb_rig/qvb-rig-hotplug; do
  [ -f "$build/$program" ] || { echo "rig_from_tmp: $build/$program is not built" >&2; exit 1; }
  cp -p "$build/$program" "$copy/build/$program"
done
mkdir -p "$copy/build/resources"
cp -rp "$build/resources/firmware" "$copy/build/resources/"

# The guest's Debian packages are the build's own (fetched once, hundreds of megabytes).
"$copy/usb_rig/rig.sh" --build "$copy/build" --cache "$build/usb_rig/cache" --only update_required
log="$copy/build/usb_rig/results-suite/guest.log"
# What ran, from where: the scenario's checks passed in a guest that saw the copy.
grep -q "^PASS \[[ 0-9.]*s\] update-required: update exits 0" "$log" ||
  { echo "rig_from_tmp: the update did not pass in the guest" >&2; exit 1; }
echo "rig_from_tmp: the rig ran from $copy"
