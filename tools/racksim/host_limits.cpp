#include "host_limits.h"

#include "base_def.h"
#include "frame.h"
#include "io_image.h"

namespace racksim {

namespace {

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
        const size_t reply = kHeaderSize + kStatusWordSize + encode_inputs(slots, extended).size();
        if (reply > capacity::kIoReply) {
            return too_large("its I/O reply", extended, reply, "takes", capacity::kIoReply);
        }
    }
    for (bool extended : {false, true}) {
        // Function code, then the stream.
        const size_t request = kHeaderSize + 1 + encode_outputs(slots, extended).size();
        if (request > capacity::kIoRequest) {
            return too_large("a write of all its outputs", extended, request, "sends",
                             capacity::kIoRequest);
        }
    }
    for (bool extended : {false, true}) {
        const size_t reply = kHeaderSize + encode_base_def(slots, extended).size();
        if (reply > capacity::kBaseDefReply) {
            return too_large("its base definition", extended, reply, "takes",
                             capacity::kBaseDefReply);
        }
    }
    return "";
}

std::string installed_base_too_large(const Slots& slots) {
    if (std::string why = base_too_large(slots); !why.empty()) return why;
    // Init and rescan answer with the installed base in the compact format.
    const size_t reply = kHeaderSize + encode_base_def(slots, false).size();
    if (reply > capacity::kInitBaseDefReply) {
        return too_large("its base definition", false, reply, "takes", capacity::kInitBaseDefReply,
                         " in the reply to init");
    }
    return "";
}

}  // namespace racksim
