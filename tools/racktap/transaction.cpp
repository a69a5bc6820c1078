#include "transaction.h"

#include <algorithm>
#include <array>
#include <span>
#include <vector>

#include "exchange_result.h"
#include "item_walks.h"
#include "output_stream.h"
#include "transfer.h"
#include "vocab/markers.h"

namespace racktap {

namespace {

constexpr uint16_t kBufferSize = 1000;
using Buffer = std::array<uint8_t, kBufferSize>;

// The delivered part of a buffer; a size beyond the buffer is not trusted.
std::span<const uint8_t> delivered(const Buffer& buffer, uint16_t size) {
    return std::span<const uint8_t>(buffer).first(std::min<std::size_t>(size, buffer.size()));
}

// Asks for the extended item format in the reply.
void put_marker(Buffer& buffer) {
    buffer[0] = zeb::vocab::kExtendedFormat;
    buffer[1] = 0x00;
}

}  // namespace

TransactionRecord run_io_transaction(ZEBDevice& device) {
    TransactionRecord record;
    Buffer buffer{};

    put_marker(buffer);
    uint16_t size = kBufferSize;
    record.base_def_result = ZEBReadBaseDef(&device, buffer.data(), &size);
    if (record.base_def_result == 0) record.map = build_io_map(delivered(buffer, size));

    Buffer inputs{};
    put_marker(inputs);
    size = kBufferSize;
    record.read_result = ZEBReadIO(&device, inputs.data(), &size);
    if (exchange_delivered(record.read_result)) {
        store_inputs(delivered(inputs, size), record.map);
        record.inputs_delivered = true;
    }

    set_outputs(record.map, take_input_values(record.map));
    const std::vector<uint8_t> outputs = build_output_stream(record.map);
    record.sent = record.map;
    record.output_length = outputs.size();

    size = kBufferSize;
    record.write_result = ZEBWriteIO(&device, outputs.data(), static_cast<uint32_t>(outputs.size()),
                                     inputs.data(), &size);
    if (exchange_delivered(record.write_result)) {
        store_inputs(delivered(inputs, size), record.map);
        record.inputs_delivered = true;
    }
    return record;
}

}  // namespace racktap
