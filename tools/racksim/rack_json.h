// Parts of a rack description read alone, for changes made to a rack while it runs (RackSim's
// HTTP interface): the same keys, limits and messages as in a rack file.
#pragma once

#include <cstdint>
#include <map>
#include <nlohmann/json_fwd.hpp>
#include <string>

#include "module.h"

namespace racksim {

// A module's "faults" object, and optionally its "faults_by_function" entries, each read over
// those faults as in a rack file. False, with the reason named by its place under `path`.
bool read_faults_json(const nlohmann::json& faults, const nlohmann::json* by_function,
                      const std::string& path, Faults* out, std::map<uint8_t, Faults>* by_out,
                      std::string* error);

// A module's "manner": a manner's name, or an object of choices.
bool read_manner_json(const nlohmann::json& manner, const std::string& path, MannerSetting* out,
                      std::string* error);

}  // namespace racksim
