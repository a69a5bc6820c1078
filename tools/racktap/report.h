#pragma once

#include <cstdint>
#include <string>

#include "transaction_record.h"
#include "zeb.h"

namespace racktap {

// The /V report: the module's address and hardware address, each slot's counts, the inputs
// read and the outputs written.
std::string format_report(uint16_t protocol, const ZEBDevice& module,
                          const TransactionRecord& record);

}  // namespace racktap
