#pragma once

#include "transaction_record.h"
#include "zeb.h"

namespace racktap {

// Runs one I/O transaction on an opened device: reads the base definition into the I/O map,
// reads the inputs, copies four input values to four outputs and writes the outputs. Failed
// exchanges print nothing; the transaction goes on with what it has.
TransactionRecord run_io_transaction(ZEBDevice& device);

}  // namespace racktap
