// The outputs this host last wrote to a module, kept between runs: a module does not report
// its outputs, so a write of some points takes the others from here. One JSON file a module,
// named by its hardware address, in $XDG_STATE_HOME/zeb/outputs/ (~/.local/state/zeb/outputs/
// without it).
#pragma once

#include <filesystem>
#include <optional>
#include <set>
#include <string>

#include "addresses.h"
#include "io_points.h"
#include "output.h"

namespace zeb::cli {

// The record's file; nothing when neither XDG_STATE_HOME nor HOME is set.
std::optional<std::filesystem::path> outputs_record_path(const HwAddress& hw);

// The record, or null when there is none. A file that cannot be read or is no record counts as
// none, with the reason in `why`.
Json read_outputs_record(const std::filesystem::path& path, std::string* why);

// Takes the outputs of the record into the image, slot by slot, where the slot's output counts
// are still those of the record; returns the slots taken.
std::set<int> restore_outputs(ZEBImage& image, const Json& record);

// The record with the outputs of `slots` as the image holds them.
Json updated_outputs_record(const Json& record, const ZEBImage& image, const std::set<int>& slots,
                            const HwAddress& hw, const std::string& address);

// Writes the record whole (a new file renamed over the old); false, with the reason, when it
// cannot.
bool write_outputs_record(const std::filesystem::path& path, const Json& record, std::string* why);

}  // namespace zeb::cli
