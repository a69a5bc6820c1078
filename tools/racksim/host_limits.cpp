#include "host_limits.h"

#include "base_def.h"
#include "frame.h"
#include "io_image.h"

namespace racksim {

namespace {

constexpr size_t kStatusSize = 2;

const char* format_name(bool extended) {
    return extended ? "extended" : "compact";
}

std::string too_large(const std::string& what, bool extended, size_t size, const char* verb,
                      size_t capacity, const std::string& where = "") {
    return what + " in the " + format_name(extended) + " item format would be " +
           std::to_string(size) + " bytes" + where + "; a host " + verb + " at most " +
           std::to_string(capacity) + " (header included)";
}

}  // namespace

std::string base_too_large(const Slots& slots) {
    for (bool extended : {false, true}) {
        const size_t reply = kHeaderSize + kStatusSize + encode_inputs(slots, extended).size();
        if (reply > kIoReplyCapacity) {
            return too_large("its I/O reply", extended, reply, "takes", kIoReplyCapacity);
        }
    }
    for (bool extended : {false, true}) {
        // Function code, then the stream.
        const size_t request = kHeaderSize + 1 + encode_outputs(slots, extended).size();
        if (request > kIoRequestCapacity) {
            return too_large("a write of all its outputs", extended, request, "sends",
                             kIoRequestCapacity);
        }
    }
    for (bool extended : {false, true}) {
        const size_t reply = kHeaderSize + encode_base_def(slots, extended).size();
        if (reply > kBaseDefReplyCapacity) {
            return too_large("its base definition", extended, reply, "takes",
                             kBaseDefReplyCapacity);
        }
    }
    return "";
}

std::string installed_base_too_large(const Slots& slots) {
    if (std::string why = base_too_large(slots); !why.empty()) return why;
    // Init and rescan answer with the installed base in the compact format.
    const size_t reply = kHeaderSize + encode_base_def(slots, false).size();
    if (reply > kInitReplyCapacity) {
        return too_large("its base definition", false, reply, "takes", kInitReplyCapacity,
                         " in the reply to init");
    }
    return "";
}

}  // namespace racksim
