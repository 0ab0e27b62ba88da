// update --dry-run: what the update would write and where, found without writing.
#pragma once

#include <nlohmann/json_fwd.hpp>
#include <ostream>
#include <string>

#include "firmware/update_plan.h"

namespace qvb::cli {

void WriteDryRunText(std::ostream& out, const std::string& path, const UpdatePlan& plan);
// {"image_size", "path": "normal"|"loader", "descriptor": {"boundary", "capacity"}|null,
//  "download_size", "pieces", "stop": null|"reason"}
nlohmann::ordered_json DryRunJson(const UpdatePlan& plan);

}  // namespace qvb::cli
