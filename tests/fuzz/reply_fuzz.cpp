// Every reply path of the library: the fuzzer's bytes are the module's replies to one
// operation, with the caller's buffers and counts also taken from them.
#include <cstddef>
#include <cstdint>

#include "reply_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zebfuzz::FuzzInput in(data, size);
    zebfuzz::run_reply_case(in);
    return 0;
}
