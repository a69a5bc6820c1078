#pragma once

#include <cstddef>
#include <cstdint>

#include "io_map.h"

namespace racktap {

// What one I/O transaction found and moved.
struct TransactionRecord {
    IoMap map;   // the slots' counts and images at the end
    IoMap sent;  // the images as the output stream was built from them
    uint32_t base_def_result = 0;
    uint32_t read_result = 0;
    uint32_t write_result = 0;
    bool inputs_delivered = false;  // by the read or by the write
    std::size_t output_length = 0;
};

}  // namespace racktap
