#include "http/api_reply.h"

namespace racksim {

std::string json_text(const OrderedJson& value) {
    return value.dump(-1, ' ', false, OrderedJson::error_handler_t::replace);
}

ApiReply json_reply(int status, const OrderedJson& value) {
    return ApiReply{status, "application/json", json_text(value) + "\n"};
}

ApiReply error_reply(int status, const std::string& message) {
    return json_reply(status, OrderedJson{{"error", message}});
}

}  // namespace racksim
