// Events as the queue file keeps them. A record names its module and points rather than their
// places in this run's lists, so that it means the same after a restart, with the module laid
// out again or the configuration changed.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "events.h"
#include "module.h"

namespace zebgw {

// A data event or write result as a record. Call with the module's mutex held.
std::string store_event(const Event& event, const Module& module);

// The event a record holds, for this run's modules: values of points the module has no more
// are left out. Nothing when the record is damaged, names no module of this gateway, or keeps
// no value that still has a point.
std::optional<Event> restore_event(std::string_view record,
                                   const std::vector<std::unique_ptr<Module>>& modules);

}  // namespace zebgw
