// What the HTTP interface answers: a status and a body, JSON unless it carries a file's bytes.
#pragma once

#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>

namespace racksim {

// What the interface answers with keeps its keys in the order written (a module's name before
// its slots), for a person reading it.
using OrderedJson = nlohmann::ordered_json;

struct ApiReply {
    int status = 200;
    std::string type = "application/json";
    std::string body;
};

// JSON text of a value. Names and log lines are bytes a host wrote: what is not UTF-8 is
// replaced rather than refused.
std::string json_text(const OrderedJson& value);

ApiReply json_reply(int status, const OrderedJson& value);
// {"error": message}
ApiReply error_reply(int status, const std::string& message);

// A request refused, with its status (4xx) and the reason; nothing was changed.
struct Refusal : std::runtime_error {
    Refusal(int status, const std::string& message) : std::runtime_error(message), status(status) {}
    int status;
};

}  // namespace racksim
