#include "cli/dry_run.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "cli/report.h"
#include "firmware/update.h"

namespace qvb::cli {
namespace {

bool DescriptorRead(const UpdatePlan& plan) {
  using Stop = UpdatePlan::Stop;
  return plan.stop != Stop::ImageDamaged && plan.stop != Stop::ImageMissing &&
         plan.stop != Stop::InfoFailed && plan.stop != Stop::DescriptorFailed;
}

}  // namespace

void WriteDryRunText(std::ostream& out, const std::string& path, const UpdatePlan& plan) {
  char line[200];
  out << "Dry run: nothing is written.\n";
  if (plan.stop == UpdatePlan::Stop::ImageMissing) {
    out << "The update would fail: " << PlanStopText(plan) << ".\n";
    return;
  }
  std::snprintf(line, sizeof line, "Image: 133.1.0.6, %u bytes", plan.image_size);
  out << line
      << (plan.stop == UpdatePlan::Stop::ImageDamaged ? ", damaged\n"
                                                      : ", SHA-256 as recorded by the build\n");
  if (DescriptorRead(plan)) {
    out << "Path: " << (plan.loader ? "loader (information block byte 6 is 0)" : "normal") << "\n";
    std::snprintf(line, sizeof line,
                  "Buffer descriptor: offset boundary 0x%02X, capacity 0x%06X (%u bytes)\n",
                  plan.boundary, plan.capacity, plan.capacity);
    out << line;
  }
  if (plan.stop != UpdatePlan::Stop::None) {
    out << "The update would fail before its first write: " << PlanStopText(plan) << ".\n";
    return;
  }
  std::snprintf(line, sizeof line,
                " in %u WRITE BUFFER commands (mode 0x0E, 1024 bytes each, offsets 0x000000 to "
                "0x%06X),\n",
                plan.pieces, (plan.pieces - 1) * kPieceSize);
  out << "Would write " << plan.download_size << " bytes to buffer 0 of " << Printable(path)
      << line;
  out << "then read them back with READ BUFFER (mode 1) and compare; two attempts at most.\n";
}

nlohmann::ordered_json DryRunJson(const UpdatePlan& plan) {
  nlohmann::ordered_json json;
  json["image_size"] = plan.image_size;
  json["path"] = plan.loader ? "loader" : "normal";
  if (DescriptorRead(plan))
    json["descriptor"] = {{"boundary", plan.boundary}, {"capacity", plan.capacity}};
  else
    json["descriptor"] = nullptr;
  json["download_size"] = plan.download_size;
  json["pieces"] = plan.pieces;
  if (plan.stop == UpdatePlan::Stop::None)
    json["stop"] = nullptr;
  else
    json["stop"] = PlanStopText(plan);
  return json;
}

}  // namespace qvb::cli
