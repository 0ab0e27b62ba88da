// The none host's part of the waiting records: no machine start to tell apart, and no folder
// for the records.
#include <chrono>

#include "firmware/waiting_record.h"

namespace qvb {

HostMoment CurrentMoment() {
  HostMoment moment;
  moment.now = std::chrono::duration_cast<std::chrono::seconds>(
                   std::chrono::system_clock::now().time_since_epoch())
                   .count();
  return moment;
}

std::string WaitingRecordFolder(bool) {
  return "";
}

}  // namespace qvb
