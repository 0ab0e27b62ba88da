#!/usr/bin/env bash
# The rig's benchmark: boots the guest in bench mode and prints the table the guest measured
# (one full update of the gadget through usb-storage, against a minimal SG_IO loop and one
# sg_raw process per command on the same command blocks). Numbers only; nothing is asserted.
# The suite's boot also runs it once, briefly (usb_rig.bench), so that it cannot break unseen.
#   bench.sh BUILD_DIR [--kvm]
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=${1:?usage: bench.sh BUILD_DIR [--kvm]}
shift
exec "$here/rig.sh" --build "$build" --mode bench "$@"
