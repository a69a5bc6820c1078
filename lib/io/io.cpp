// Reading and writing one module's I/O image as an item stream.
#include "io_reply.h"

using namespace zeb;
using namespace zeb::io;

extern "C" {

uint32_t ZEBReadIO(ZEBDevice* device, uint8_t* buffer, uint16_t* size) {
    return read_stream(device, fn::kReadIo, buffer, size);
}

uint32_t ZEBWriteIO(ZEBDevice* device, const uint8_t* source, uint32_t length, uint8_t* buffer,
                    uint16_t* size) {
    return write_stream(device, fn::kWriteIo, source, length, buffer, size);
}

uint32_t ZEBWriteIONoRead(ZEBDevice* device, const uint8_t* source, uint32_t length) {
    IoReply reply;
    const uint32_t result = send_stream(device, fn::kWriteIoNoRead, source, length, reply);
    return failed(result) ? result : status_only(reply, result, StatusRule::io_word);
}

}  // extern "C"
