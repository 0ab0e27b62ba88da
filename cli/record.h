// record FILE: the replies of the devices, as a scenario file that --virtual replays.
#pragma once

#include "cli/commands.h"

namespace qvb::cli {

// Sends what list and status send (and the update's read-only first steps: the test-device
// INQUIRY and the buffer descriptor of a QVB886), never a write: a request that carries data to
// the device is refused before it leaves. Writes the scenario to the --record file.
int RunRecord(Session& session);

}  // namespace qvb::cli
