#include "config.h"

#include <toml++/toml.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include "queue_file.h"

namespace zebgw {

namespace {

// Names that stand in a topic level: no separators or wildcards of MQTT.
bool topic_safe(const std::string& s) {
    return !s.empty() && s.find_first_of("/+#") == std::string::npos &&
           s.find('\0') == std::string::npos;
}

class Reader {
  public:
    std::vector<ConfigError> errors;

    void error(const toml::source_region& where, std::string message) {
        errors.push_back({where.begin.line, where.begin.column, std::move(message)});
    }

    // Reports every key of `table` that is not in `known`.
    void only_keys(const toml::table& table, const std::string& what,
                   std::initializer_list<std::string_view> known) {
        for (auto&& [key, value] : table) {
            bool ok = false;
            for (auto k : known) ok = ok || key.str() == k;
            if (!ok)
                error(key.source(), "unknown key \"" + std::string(key.str()) + "\" in " + what);
        }
    }

    const toml::table* table(const toml::table& parent, std::string_view key, bool required,
                             const std::string& what) {
        const toml::node* node = parent.get(key);
        if (!node) {
            if (required) error(parent.source(), "missing [" + std::string(key) + "]" + what);
            return nullptr;
        }
        if (!node->is_table()) {
            error(node->source(), std::string(key) + " must be a table");
            return nullptr;
        }
        return node->as_table();
    }

    void string(const toml::table& t, std::string_view key, std::string& out, bool required,
                const std::string& where) {
        const toml::node* node = t.get(key);
        if (!node) {
            if (required) error(t.source(), "missing " + std::string(key) + " in " + where);
            return;
        }
        if (const auto* s = node->as_string()) {
            out = s->get();
        } else {
            error(node->source(), std::string(key) + " must be a string");
        }
    }

    template <typename T>
    void integer(const toml::table& t, std::string_view key, T& out, int64_t min, int64_t max) {
        const toml::node* node = t.get(key);
        if (!node) return;
        const auto* i = node->as_integer();
        if (!i) {
            error(node->source(), std::string(key) + " must be an integer");
        } else if (i->get() < min || i->get() > max) {
            error(node->source(), std::string(key) + " must be from " + std::to_string(min) +
                                      " to " + std::to_string(max));
        } else {
            out = static_cast<T>(i->get());
        }
    }

    void patterns(const toml::table& t, std::string_view key, std::vector<PointPattern>& out,
                  bool outputs) {
        const toml::node* node = t.get(key);
        if (!node) return;
        const auto* array = node->as_array();
        if (!array) {
            error(node->source(), std::string(key) + " must be an array of point patterns");
            return;
        }
        for (const toml::node& item : *array) {
            const auto* s = item.as_string();
            if (!s) {
                error(item.source(), std::string(key) + ": a point pattern is a string");
                continue;
            }
            std::string why;
            auto p = parse_point_pattern(s->get(), &why);
            if (!p) {
                error(item.source(), std::string(key) + ": " + why);
            } else if (outputs && !p->outputs_only()) {
                error(item.source(), std::string(key) + ": \"" + s->get() +
                                         "\" must name an output kind (bit_out, word_out or "
                                         "dword_out): inputs are never written");
            } else {
                out.push_back(*p);
            }
        }
    }

    void file(const toml::table& t, std::string_view key, std::string& out) {
        string(t, key, out, false, "");
        if (!out.empty() && access(out.c_str(), R_OK) != 0) {
            error(t.get(key)->source(),
                  std::string(key) + ": cannot read \"" + out + "\": " + std::strerror(errno));
        }
    }
};

bool parse_url(const std::string& url, BrokerConfig& b) {
    std::string rest;
    if (url.starts_with("mqtt://")) {
        rest = url.substr(7);
        b.tls = false;
        b.port = 1883;
    } else if (url.starts_with("mqtts://")) {
        rest = url.substr(8);
        b.tls = true;
        b.port = 8883;
    } else {
        return false;
    }
    const size_t colon = rest.rfind(':');
    if (colon != std::string::npos) {
        const std::string port = rest.substr(colon + 1);
        if (port.empty() || port.size() > 5 ||
            port.find_first_not_of("0123456789") != std::string::npos) {
            return false;
        }
        const unsigned long p = std::stoul(port);
        if (p == 0 || p > 65535) return false;
        b.port = static_cast<uint16_t>(p);
        rest = rest.substr(0, colon);
    }
    if (rest.empty() || rest.find('/') != std::string::npos) return false;
    b.host = rest;
    return true;
}

void read_gateway(Reader& r, const toml::table& root, Config& c) {
    const auto* g = r.table(root, "gateway", true, ": the gateway's name at least");
    if (!g) return;
    r.only_keys(*g, "[gateway]",
                {"name", "format", "local", "timeout_ms", "retries", "dead_after", "search_max_ms",
                 "queue_limit", "health", "scan_priority"});
    r.string(*g, "name", c.gateway, true, "[gateway]");
    if (g->get("name") && !c.gateway.empty() && !topic_safe(c.gateway)) {
        r.error(g->get("name")->source(), "name must not hold '/', '+' or '#'");
    }
    std::string format = "sparkplug";
    r.string(*g, "format", format, false, "");
    if (format == "json") {
        c.format = Convention::json;
    } else if (format != "sparkplug") {
        r.error(g->get("format")->source(), "format must be \"sparkplug\" or \"json\"");
    }
    r.string(*g, "local", c.local, false, "");
    if (!c.local.empty() && !zeb::cli::parse_ipv4(c.local)) {
        r.error(g->get("local")->source(), "local must be an IPv4 address");
    }
    r.integer(*g, "timeout_ms", c.timeout_ms, 1, 60000);
    r.integer(*g, "retries", c.retries, 0, 100);
    r.integer(*g, "dead_after", c.dead_after, 1, 1000000);
    r.integer(*g, "search_max_ms", c.search_max_ms, 10, 3600000);
    r.integer(*g, "queue_limit", c.queue_limit, 1, 100000000);
    r.integer(*g, "scan_priority", c.scan_priority, 0, 99);
    std::string health = c.health_host + ":" + std::to_string(c.health_port);
    r.string(*g, "health", health, false, "");
    if (health.empty()) {
        c.health_port = 0;
    } else {
        const size_t colon = health.rfind(':');
        const std::string port = colon == std::string::npos ? "" : health.substr(colon + 1);
        const auto ip =
            zeb::cli::parse_ipv4(health.substr(0, colon == std::string::npos ? 0 : colon));
        if (!ip || port.empty() || port.size() > 5 ||
            port.find_first_not_of("0123456789") != std::string::npos || std::stoul(port) > 65535) {
            r.error(g->get("health")->source(),
                    "health must be \"IPv4:port\" (\"\" for none), such as \"127.0.0.1:9108\"");
        } else {
            c.health_host = health.substr(0, colon);
            c.health_port = static_cast<uint16_t>(std::stoul(port));
        }
    }
}

void read_broker(Reader& r, const toml::table& root, Config& c) {
    const auto* b = r.table(root, "broker", true, ": the broker's url at least");
    if (!b) return;
    r.only_keys(*b, "[broker]",
                {"url", "client_id", "username", "password_file", "ca_file", "cert_file",
                 "key_file", "keepalive_s", "qos", "password"});
    if (const auto* pw = b->get("password")) {
        r.error(pw->source(),
                "no password here: put it in a file readable by the gateway alone "
                "and name it with password_file");
    }
    std::string url;
    r.string(*b, "url", url, true, "[broker]");
    if (b->get("url") && !url.empty() && !parse_url(url, c.broker)) {
        r.error(b->get("url")->source(),
                "url must be mqtt://host[:port] or mqtts://host[:port], not \"" + url + "\"");
    }
    r.string(*b, "client_id", c.broker.client_id, false, "");
    r.string(*b, "username", c.broker.username, false, "");
    r.file(*b, "password_file", c.broker.password_file);
    r.file(*b, "ca_file", c.broker.ca_file);
    r.file(*b, "cert_file", c.broker.cert_file);
    r.file(*b, "key_file", c.broker.key_file);
    r.integer(*b, "keepalive_s", c.broker.keepalive_s, 5, 65535);
    r.integer(*b, "qos", c.broker.qos, 0, 1);
    if (!c.broker.password_file.empty() && c.broker.username.empty()) {
        r.error(b->get("password_file")->source(), "password_file without a username");
    }
    if (c.broker.cert_file.empty() != c.broker.key_file.empty()) {
        r.error(b->source(), "cert_file and key_file go together");
    }
    if (c.broker.tls && c.broker.ca_file.empty()) {
        r.error(b->source(), "mqtts:// needs ca_file: the certificate authority to trust");
    }
}

void read_queue(Reader& r, const toml::table& root, Config& c) {
    const auto* q = r.table(root, "queue", false, "");
    if (!q) return;
    r.only_keys(*q, "[queue]", {"file", "max_bytes"});
    r.string(*q, "file", c.queue_file, false, "");
    r.integer(*q, "max_bytes", c.queue_file_bytes, QueueFile::kMinBytes, int64_t{1} << 40);
    std::string why;
    if (q->get("file") && !c.queue_file.empty() && !QueueFile::usable(c.queue_file, &why)) {
        r.error(q->get("file")->source(), "file: " + why);
    }
    if (q->get("max_bytes") && c.queue_file.empty()) {
        r.error(q->get("max_bytes")->source(), "max_bytes without a file");
    }
}

void read_sparkplug(Reader& r, const toml::table& root, Config& c) {
    const auto* s = r.table(root, "sparkplug", false, "");
    if (s) {
        r.only_keys(*s, "[sparkplug]", {"group", "edge_node", "aliases"});
        r.string(*s, "group", c.sparkplug_group, false, "");
        r.string(*s, "edge_node", c.edge_node, false, "");
        if (const auto* a = s->get("aliases")) {
            if (const auto* b = a->as_boolean()) {
                c.sparkplug_aliases = b->get();
            } else {
                r.error(a->source(), "aliases must be true or false");
            }
        }
        for (const char* key : {"group", "edge_node"}) {
            const auto* node = s->get(key);
            const auto* text = node ? node->as_string() : nullptr;
            if (text && !topic_safe(text->get())) {
                r.error(node->source(),
                        std::string(key) + " must be a name without '/', '+' or '#'");
            }
        }
    }
    if (c.edge_node.empty()) c.edge_node = c.gateway;
}

void read_groups(Reader& r, const toml::table& root, Config& c) {
    const auto* scan =
        r.table(root, "scan", true, " with one group at least: [scan.NAME] period_ms = N");
    if (!scan) return;
    for (auto&& [key, value] : *scan) {
        const auto* t = value.as_table();
        if (!t) {
            r.error(value.source(), "scan." + std::string(key.str()) + " must be a table");
            continue;
        }
        ScanGroupConfig g;
        g.name = key.str();
        r.only_keys(*t, "[scan." + g.name + "]", {"period_ms"});
        if (!t->get("period_ms"))
            r.error(t->source(), "missing period_ms in [scan." + g.name + "]");
        r.integer(*t, "period_ms", g.period_ms, 1, 3600000);
        c.groups.push_back(g);
    }
    if (c.groups.empty()) r.error(scan->source(), "no scan group: [scan.NAME] period_ms = N");
}

void read_modules(Reader& r, const toml::table& root, Config& c) {
    const toml::node* node = root.get("module");
    if (!node) {
        r.error(root.source(), "no module: [[module]] with id, find and scan");
        return;
    }
    const auto* array = node->as_array();
    if (!array || !array->is_array_of_tables()) {
        r.error(node->source(), "module must be an array of tables: [[module]]");
        return;
    }
    std::set<std::string> ids;
    for (const toml::node& item : *array) {
        const auto& t = *item.as_table();
        ModuleConfig m;
        r.only_keys(t, "[[module]]", {"id", "find", "scan", "publish", "writable", "deadband"});
        r.string(t, "id", m.id, true, "[[module]]");
        if (t.get("id") && !m.id.empty()) {
            if (!topic_safe(m.id)) {
                r.error(t.get("id")->source(), "id must not hold '/', '+' or '#'");
            } else if (!ids.insert(m.id).second) {
                r.error(t.get("id")->source(), "id \"" + m.id + "\" names two modules");
            }
        }
        r.string(t, "find", m.find_text, true, "[[module]]");
        if (t.get("find") && t.get("find")->is_string()) {
            auto ref = zeb::cli::parse_module_ref(m.find_text);
            if (!ref) {
                r.error(t.get("find")->source(),
                        "find must be a name, #number, hardware address or IPv4 address");
            } else {
                m.find = *ref;
            }
        }
        std::string group;
        r.string(t, "scan", group, true, "[[module]]");
        if (t.get("scan") && !group.empty()) {
            size_t i = 0;
            while (i < c.groups.size() && c.groups[i].name != group) ++i;
            if (i == c.groups.size()) {
                r.error(t.get("scan")->source(), "no scan group \"" + group + "\"");
            }
            m.group = i;
        }
        if (t.get("publish")) {
            r.patterns(t, "publish", m.publish, false);
        } else {
            m.publish.push_back(PointPattern{});  // every point
        }
        r.patterns(t, "writable", m.writable, true);
        r.integer(t, "deadband", m.deadband, 0, 0xFFFFFFFFll);
        c.modules.push_back(std::move(m));
    }
}

}  // namespace

LoadedConfig parse_config(std::string_view text, const std::string& path) {
    LoadedConfig out;
    toml::table root;
    try {
        root = toml::parse(text, path);
    } catch (const toml::parse_error& e) {
        out.errors.push_back(
            {e.source().begin.line, e.source().begin.column, std::string(e.description())});
        return out;
    }
    Reader r;
    r.only_keys(root, "the file", {"gateway", "broker", "queue", "sparkplug", "scan", "module"});
    Config c;
    read_gateway(r, root, c);
    read_broker(r, root, c);
    read_queue(r, root, c);
    read_sparkplug(r, root, c);
    read_groups(r, root, c);
    read_modules(r, root, c);
    if (c.broker.client_id.empty()) c.broker.client_id = "zebgw-" + c.gateway;
    out.errors = std::move(r.errors);
    std::stable_sort(out.errors.begin(), out.errors.end(), [](const auto& a, const auto& b) {
        return a.line != b.line ? a.line < b.line : a.column < b.column;
    });
    if (out.errors.empty()) out.config = std::move(c);
    return out;
}

LoadedConfig load_config(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        LoadedConfig out;
        out.errors.push_back({0, 0, std::string("cannot read the file: ") + std::strerror(errno)});
        return out;
    }
    std::stringstream text;
    text << in.rdbuf();
    return parse_config(text.str(), path);
}

std::string format_errors(const std::string& path, const std::vector<ConfigError>& errors) {
    std::string out;
    for (const auto& e : errors) {
        out += path;
        if (e.line) out += ":" + std::to_string(e.line) + ":" + std::to_string(e.column);
        out += ": " + e.message + "\n";
    }
    return out;
}

std::optional<std::string> read_password(const std::string& path, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot read the password file " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    std::string line;
    std::getline(in, line);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

}  // namespace zebgw
