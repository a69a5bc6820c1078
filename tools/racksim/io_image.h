// Moving a module's I/O image in and out of item streams.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "bytes.h"
#include "item_stream.h"
#include "module.h"

namespace racksim {

// Brings the inputs that behaviour drives up to date before a read: wired inputs take their
// source slot's outputs, counters count one up.
void refresh_inputs(Module& m);

// The input stream: for each slot with inputs, its selection, then bit, word and 32-bit
// inputs, and the end byte.
Bytes encode_inputs(const Slots& slots, bool extended);
inline Bytes encode_inputs(const Module& m, bool extended) {
    return encode_inputs(m.base.slots, extended);
}
// The same, added to the end of `out`.
void append_inputs(const Slots& slots, bool extended, Bytes& out);
// The output stream that writes every output of the base, in the same shape.
Bytes encode_outputs(const Slots& slots, bool extended);

// Stores the output items of a stream that read_io_stream() accepts. Items for slots the
// module does not have, and input items, are dropped; data past a slot's image is cut. Returns
// a short description of what was written, for the log.
std::string store_outputs(Module& m, const uint8_t* stream, size_t len);

}  // namespace racksim

namespace racksim {

// A short description of the module's inputs, for the log.
std::string describe_inputs(const Module& m);

}  // namespace racksim
