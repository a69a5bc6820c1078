// Plain JSON topics for simple consumers: zeb/<gateway>/status ("online", "offline"),
// zeb/<gateway>/<module>/status, and one retained topic per point,
// zeb/<gateway>/<module>/slot1/bit_in/0, holding {"value": 1, "ts": <ms>}. A write is a
// message on the point's topic with /set after it, holding a number, true or false, or
// {"value": ...}; a refused or failed write is answered on the point's topic with /result.
#include <nlohmann/json.hpp>

#include "format.h"

namespace zebgw {

namespace {

using nlohmann::json;

class Json : public Format {
  public:
    explicit Json(const Config& c) : prefix_("zeb/" + c.gateway + "/"), qos_(c.broker.qos) {}

    Message will() override { return death(); }
    Message death() override { return {prefix_ + "status", "offline", true, 1}; }

    std::vector<std::string> subscriptions() const override {
        // Module, then slot/kind/index, then "set".
        return {prefix_ + "+/+/+/+/set"};
    }

    void node_birth(std::vector<Message>& out) override {
        out.push_back({prefix_ + "status", "online", true, qos_});
    }

    void encode(const Event& e, const Module& module, std::vector<Message>& out) override {
        const std::string base = prefix_ + module.config().id + "/";
        switch (e.kind) {
            case Event::Kind::birth:
                out.push_back({base + "status", "online", true, qos_});
                [[fallthrough]];
            case Event::Kind::data:
                for (const auto& v : e.values) {
                    if (v.point >= module.points.size()) continue;
                    json j = {{"value", v.value}, {"ts", e.time_ms}};
                    if (e.historical) j["historical"] = true;
                    // Values kept while the broker was away are history: the retained value
                    // stays the newest.
                    out.push_back(
                        {base + module.points[v.point].name, j.dump(), !e.historical, qos_});
                }
                break;
            case Event::Kind::death:
                out.push_back({base + "status", "offline", true, qos_});
                break;
            case Event::Kind::write_result: {
                json j = {
                    {"ok", false}, {"value", e.requested}, {"error", e.result}, {"ts", e.time_ms}};
                out.push_back({base + e.point + "/result", j.dump(), false, qos_});
                break;
            }
        }
    }

    std::optional<Command> command(const std::string& topic, const std::string& payload) override {
        constexpr std::string_view kSet = "/set";
        if (!topic.starts_with(prefix_) || !topic.ends_with(kSet)) return std::nullopt;
        const std::string rest =
            topic.substr(prefix_.size(), topic.size() - prefix_.size() - kSet.size());
        const size_t slash = rest.find('/');
        if (slash == std::string::npos) return std::nullopt;
        WriteRequest w;
        w.module = rest.substr(0, slash);
        w.point = rest.substr(slash + 1);
        const json j = json::parse(payload, nullptr, /*allow_exceptions=*/false);
        const json& v = j.is_object() && j.contains("value") ? j["value"] : j;
        // An unsigned number is also an integer to the parser: ask for it first, so that one
        // past int64 is refused rather than wrapped.
        if (v.is_boolean()) {
            w.value = v.get<bool>() ? 1 : 0;
        } else if (v.is_number_unsigned()) {
            const uint64_t u = v.get<uint64_t>();
            if (u <= static_cast<uint64_t>(INT64_MAX)) w.value = static_cast<int64_t>(u);
        } else if (v.is_number_integer()) {
            w.value = v.get<int64_t>();
        }
        if (!w.value) w.problem = "the payload is not a number, true, false or {\"value\": ...}";
        Command c;
        c.writes.push_back(std::move(w));
        return c;
    }

  private:
    std::string prefix_;
    int qos_;
};

}  // namespace

std::unique_ptr<Format> make_json_format(const Config& config) {
    return std::make_unique<Json>(config);
}

}  // namespace zebgw
