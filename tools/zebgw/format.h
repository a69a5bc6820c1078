// The two payload conventions: Sparkplug B and plain JSON topics. A format turns events into
// MQTT messages and commands into write requests; the publisher owns the connection.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config.h"
#include "events.h"
#include "module.h"

namespace zebgw {

struct Message {
    std::string topic;
    std::string payload;
    bool retain = false;
    int qos = 0;
};

// One write that a command asks for, before it is checked.
struct WriteRequest {
    std::string module;             // module id
    std::string point;              // point name as given
    std::optional<uint64_t> alias;  // Sparkplug: the point by its alias rather than its name
    std::optional<int64_t> value;
    std::string problem;  // why the value could not be read, when it could not
};

struct Command {
    bool rebirth = false;
    std::vector<WriteRequest> writes;
};

class Modules;

class Format {
  public:
    virtual ~Format() = default;
    // The death certificate, left with the broker as the connection's will. A new connection
    // gets a new one (Sparkplug counts them).
    virtual Message will() = 0;
    // What the gateway says as it closes on purpose: the same death.
    virtual Message death() = 0;
    virtual std::vector<std::string> subscriptions() const = 0;
    // The node's birth after a connection or a rebirth request; module births follow it.
    virtual void node_birth(std::vector<Message>& out) = 0;
    // An event as messages; nothing for one that has no meaning now.
    virtual void encode(const Event& event, const Module& module, std::vector<Message>& out) = 0;
    // A message on a subscribed topic; nothing when it is none of ours.
    virtual std::optional<Command> command(const std::string& topic,
                                           const std::string& payload) = 0;
};

std::unique_ptr<Format> make_sparkplug_format(const Config& config);
std::unique_ptr<Format> make_json_format(const Config& config);

uint64_t wall_ms();

}  // namespace zebgw
