// Sparkplug B: spBv1.0/<group>/<type>/<edge node>[/<device>], payloads in protobuf. The node
// births with bdSeq (the will carries the same number), every later message of the node
// counts seq from 0 to 255 and round again, and NCMD "Node Control/Rebirth" asks for births.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>

#include "format.h"
#include "sparkplug_alias.h"
#include "sparkplug_b.pb-c.h"
#include "zeb_points.h"

namespace zebgw {

namespace {

using PbPayload = Zebgw__Sparkplug__Payload;
using PbMetric = Zebgw__Sparkplug__Payload__Metric;

// Data types of the Sparkplug B definition.
enum DataType : uint32_t {
    kInt8 = 1,
    kInt16 = 2,
    kInt32 = 3,
    kInt64 = 4,
    kUInt16 = 6,
    kUInt32 = 7,
    kUInt64 = 8,
    kBoolean = 11,
    kString = 12,
};

constexpr const char* kRebirth = "Node Control/Rebirth";
constexpr const char* kBdSeq = "bdSeq";
constexpr const char* kWriteResult = "zebgw/write_result";

uint32_t datatype_of(uint8_t kind) {
    if (is_bit(kind)) return kBoolean;
    if (kind == ZEB_WORD_IN || kind == ZEB_WORD_OUT) return kUInt16;
    return kUInt32;
}

// Metrics for one payload; the strings they point at outlive the packing.
class Builder {
  public:
    PbMetric& add(const char* name, uint64_t time_ms) {
        metrics_.emplace_back();
        PbMetric& m = metrics_.back();
        zebgw__sparkplug__payload__metric__init(&m);
        m.name = const_cast<char*>(name);
        if (time_ms) {
            m.has_timestamp = 1;
            m.timestamp = time_ms;
        }
        return m;
    }
    // A point by its name, its alias (in data with aliases on) or both (in births).
    void point(const Point& p, uint32_t value, uint64_t time_ms, bool historical,
               std::optional<uint64_t> alias, bool named) {
        PbMetric& m = add(named ? p.name.c_str() : nullptr, time_ms);
        if (alias) {
            m.has_alias = 1;
            m.alias = *alias;
        }
        m.has_datatype = 1;
        m.datatype = datatype_of(p.ref.kind);
        if (historical) {
            m.has_is_historical = 1;
            m.is_historical = 1;
        }
        if (m.datatype == kBoolean) {
            m.value_case = ZEBGW__SPARKPLUG__PAYLOAD__METRIC__VALUE_BOOLEAN_VALUE;
            m.boolean_value = value != 0;
        } else {
            m.value_case = ZEBGW__SPARKPLUG__PAYLOAD__METRIC__VALUE_INT_VALUE;
            m.int_value = value;
        }
    }
    std::string pack(uint64_t time_ms, std::optional<uint64_t> seq) {
        std::vector<PbMetric*> pointers;
        for (auto& m : metrics_) pointers.push_back(&m);
        PbPayload payload;
        zebgw__sparkplug__payload__init(&payload);
        payload.has_timestamp = 1;
        payload.timestamp = time_ms;
        payload.n_metrics = pointers.size();
        payload.metrics = pointers.data();
        if (seq) {
            payload.has_seq = 1;
            payload.seq = *seq;
        }
        std::string out(zebgw__sparkplug__payload__get_packed_size(&payload), '\0');
        zebgw__sparkplug__payload__pack(&payload, reinterpret_cast<uint8_t*>(out.data()));
        return out;
    }

  private:
    std::deque<PbMetric> metrics_;  // a deque: metrics keep their addresses as it grows
};

// A metric's value as a number; nothing when it carries none we can write.
std::optional<int64_t> metric_number(const PbMetric& m) {
    switch (m.value_case) {
        case ZEBGW__SPARKPLUG__PAYLOAD__METRIC__VALUE_BOOLEAN_VALUE:
            return m.boolean_value ? 1 : 0;
        case ZEBGW__SPARKPLUG__PAYLOAD__METRIC__VALUE_INT_VALUE:
            // Signed types of 32 bits or fewer travel as their two's complement.
            if (m.has_datatype &&
                (m.datatype == kInt8 || m.datatype == kInt16 || m.datatype == kInt32)) {
                return static_cast<int32_t>(m.int_value);
            }
            return m.int_value;
        case ZEBGW__SPARKPLUG__PAYLOAD__METRIC__VALUE_LONG_VALUE:
            if (m.has_datatype && m.datatype == kInt64) return static_cast<int64_t>(m.long_value);
            if (m.long_value > static_cast<uint64_t>(INT64_MAX)) return std::nullopt;
            return static_cast<int64_t>(m.long_value);
        default:
            return std::nullopt;
    }
}

class Sparkplug : public Format {
  public:
    explicit Sparkplug(const Config& c)
        : prefix_("spBv1.0/" + c.sparkplug_group + "/"),
          edge_(c.edge_node),
          qos_(c.broker.qos),
          aliases_(c.sparkplug_aliases) {}

    Message will() override {
        ++bd_seq_;  // a new connection, a new number: its birth and its will both carry it
        return death();
    }

    Message death() override {
        Builder b;
        PbMetric& m = b.add(kBdSeq, 0);
        m.has_datatype = 1;
        m.datatype = kUInt64;
        m.value_case = ZEBGW__SPARKPLUG__PAYLOAD__METRIC__VALUE_LONG_VALUE;
        m.long_value = bd_seq_ & 0xFF;
        return {topic("NDEATH"), b.pack(wall_ms(), std::nullopt), false, 1};
    }

    std::vector<std::string> subscriptions() const override {
        return {topic("NCMD"), topic("DCMD") + "/+"};
    }

    void node_birth(std::vector<Message>& out) override {
        seq_ = 0;
        const uint64_t now = wall_ms();
        Builder b;
        PbMetric& bd = b.add(kBdSeq, now);
        bd.has_datatype = 1;
        bd.datatype = kUInt64;
        bd.value_case = ZEBGW__SPARKPLUG__PAYLOAD__METRIC__VALUE_LONG_VALUE;
        bd.long_value = bd_seq_ & 0xFF;
        PbMetric& rebirth = b.add(kRebirth, now);
        rebirth.has_datatype = 1;
        rebirth.datatype = kBoolean;
        rebirth.value_case = ZEBGW__SPARKPLUG__PAYLOAD__METRIC__VALUE_BOOLEAN_VALUE;
        rebirth.boolean_value = 0;
        PbMetric& result = b.add(kWriteResult, now);
        result.has_datatype = 1;
        result.datatype = kString;
        result.value_case = ZEBGW__SPARKPLUG__PAYLOAD__METRIC__VALUE_STRING_VALUE;
        result.string_value = const_cast<char*>("");
        out.push_back({topic("NBIRTH"), b.pack(now, next_seq()), false, qos_});
    }

    void encode(const Event& e, const Module& module, std::vector<Message>& out) override {
        const std::string device = "/" + module.config().id;
        Builder b;
        switch (e.kind) {
            case Event::Kind::birth: {
                for (const auto& v : e.values) {
                    if (v.point < module.points.size()) {
                        b.point(module.points[v.point], v.value, e.time_ms, false,
                                alias_of(module, v.point), true);
                    }
                }
                PbMetric& r = b.add(kWriteResult, e.time_ms);
                r.has_datatype = 1;
                r.datatype = kString;
                r.value_case = ZEBGW__SPARKPLUG__PAYLOAD__METRIC__VALUE_STRING_VALUE;
                r.string_value = const_cast<char*>("");
                out.push_back(
                    {topic("DBIRTH") + device, b.pack(e.time_ms, next_seq()), false, qos_});
                break;
            }
            case Event::Kind::death:
                out.push_back(
                    {topic("DDEATH") + device, b.pack(e.time_ms, next_seq()), false, qos_});
                break;
            case Event::Kind::data:
                for (const auto& v : e.values) {
                    if (v.point < module.points.size()) {
                        b.point(module.points[v.point], v.value, e.time_ms, e.historical,
                                alias_of(module, v.point), !aliases_);
                    }
                }
                out.push_back(
                    {topic("DDATA") + device, b.pack(e.time_ms, next_seq()), false, qos_});
                break;
            case Event::Kind::write_result: {
                const std::string text =
                    "{\"device\":\"" + json_escape(module.config().id) + "\",\"point\":\"" +
                    json_escape(e.point) + "\",\"value\":" + std::to_string(e.requested) +
                    ",\"ok\":false,\"error\":\"" + json_escape(e.result) + "\"}";
                PbMetric& r = b.add(kWriteResult, e.time_ms);
                r.has_datatype = 1;
                r.datatype = kString;
                r.value_case = ZEBGW__SPARKPLUG__PAYLOAD__METRIC__VALUE_STRING_VALUE;
                r.string_value = const_cast<char*>(text.c_str());
                out.push_back({e.to_node ? topic("NDATA") : topic("DDATA") + device,
                               b.pack(e.time_ms, next_seq()), false, qos_});
                break;
            }
        }
    }

    std::optional<Command> command(const std::string& t, const std::string& payload) override {
        const std::string ncmd = topic("NCMD");
        const std::string dcmd = topic("DCMD") + "/";
        const bool node = t == ncmd;
        if (!node && !t.starts_with(dcmd)) return std::nullopt;
        PbPayload* p = zebgw__sparkplug__payload__unpack(
            nullptr, payload.size(), reinterpret_cast<const uint8_t*>(payload.data()));
        if (!p) return std::nullopt;
        Command c;
        for (size_t i = 0; i < p->n_metrics; ++i) {
            const PbMetric& m = *p->metrics[i];
            const std::string name = m.name ? m.name : "";
            if (node) {
                if (name == kRebirth && metric_number(m).value_or(0) != 0) c.rebirth = true;
                continue;
            }
            WriteRequest w;
            w.module = t.substr(dcmd.size());
            w.point = name;
            w.value = metric_number(m);
            if (!w.value) w.problem = "the metric carries no boolean or integer value";
            // By alias first, as the births gave them; by name when it has none.
            if (m.has_alias && aliases_) {
                w.alias = m.alias;
                if (name.empty()) w.point = "alias " + std::to_string(m.alias);
            } else if (name.empty()) {
                w.point = m.has_alias ? "alias " + std::to_string(m.alias) : "";
                w.problem =
                    m.has_alias ? "aliases are off: name the point" : "the metric names no point";
            }
            c.writes.push_back(std::move(w));
        }
        zebgw__sparkplug__payload__free_unpacked(p, nullptr);
        return c;
    }

  private:
    std::string topic(const char* type) const { return prefix_ + type + "/" + edge_; }
    std::optional<uint64_t> alias_of(const Module& module, uint32_t point) const {
        if (!aliases_) return std::nullopt;
        return point_alias(module.index(), point);
    }
    uint64_t next_seq() {
        const uint64_t s = seq_;
        seq_ = (seq_ + 1) & 0xFF;
        return s;
    }
    static std::string json_escape(const std::string& s) {
        std::string out;
        for (unsigned char ch : s) {
            if (ch == '"' || ch == '\\') {
                out += '\\';
                out += static_cast<char>(ch);
            } else if (ch < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", ch);
                out += buf;
            } else {
                out += static_cast<char>(ch);
            }
        }
        return out;
    }

    std::string prefix_;
    std::string edge_;
    int qos_;
    bool aliases_;
    uint64_t bd_seq_ = 255;  // the first will makes it 0
    uint64_t seq_ = 0;
};

}  // namespace

uint64_t wall_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::unique_ptr<Format> make_sparkplug_format(const Config& config) {
    return std::make_unique<Sparkplug>(config);
}

}  // namespace zebgw
