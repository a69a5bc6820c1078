// The module's configuration block, read and written whole. It travels exactly as the I/O
// image does: a status word and the block, the same buffers, no-wait mode and status rule.
#include "io/io_reply.h"

using namespace zeb;

extern "C" {

uint32_t ZEBReadConfigData(ZEBDevice* device, uint8_t* buffer, uint16_t* size) {
    return io::read_stream(device, fn::kReadConfig, buffer, size);
}

uint32_t ZEBWriteConfigData(ZEBDevice* device, const uint8_t* source, uint32_t length,
                            uint8_t* buffer, uint16_t* size) {
    return io::write_stream(device, fn::kWriteConfig, source, length, buffer, size);
}

}  // extern "C"
