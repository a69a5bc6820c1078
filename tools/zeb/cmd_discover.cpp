// zeb discover: every module that answers a broadcast, one row each.
#include <cstdio>
#include <memory>

#include "commands.h"
#include "failure.h"
#include "module_facts.h"
#include "output.h"
#include "session.h"
#include "vocab/capacities.h"

namespace zeb::cli {

namespace {

struct DiscoverOptions {
    bool ipx = false;
    std::optional<uint32_t> number;
    std::optional<std::string> name;
    std::optional<std::string> item;  // TYPE=HEX
    std::optional<uint32_t> listen_ms;
    Query query;  // from the three above
};

Query make_query(const DiscoverOptions& o) {
    if (o.number) return Query::by_number(*o.number);
    if (o.name) return Query::by_name(*o.name);
    if (!o.item) return Query::everyone();
    const std::size_t equals = o.item->find('=');
    const auto type = parse_unsigned(std::string_view(*o.item).substr(0, equals), 0xFFFF);
    const auto data = equals == std::string::npos
                          ? std::nullopt
                          : parse_hex_bytes(std::string_view(*o.item).substr(equals + 1));
    if (!type || !data) fail_usage("--item " + *o.item + ": expected TYPE=HEX, e.g. 0x30=6C696E65");
    if (data->size() > vocab::kMaxQueryItem) {
        fail_usage("--item: at most " + std::to_string(vocab::kMaxQueryItem) + " data bytes");
    }
    Query q;
    q.item_type = static_cast<uint16_t>(*type);
    q.item = *data;
    return q;
}

struct Row {
    const Found* found;
    ModuleFacts facts;
};

// Said on standard error, so that scripts reading the list see it empty as before.
void say_none_answered(const Session& session, const GlobalOptions& g) {
    std::fflush(stdout);
    std::fprintf(stderr, "zeb: no module answered on %s: %s\n", session.local_text().c_str(),
                 discovery_hint(g.local).c_str());
}

void run_discover(const DiscoverOptions& o, Context& c) {
    const GlobalOptions& g = c.options;
    Session& session = *c.session;
    const std::vector<Found> found = session.discover(o.query, o.listen_ms);

    std::vector<Row> rows;
    for (const Found& f : found) {
        Row row{&f, {}};
        // What the discovery answer does not carry is asked of the module; a module that
        // does not answer keeps its row with those fields empty.
        try {
            auto device = session.open(f);
            row.facts = read_facts(device->get());
        } catch (const Failure&) {
        }
        rows.push_back(row);
    }

    if (g.json) {
        Json list = Json::array();
        for (const Row& r : rows) {
            Json m;
            m["address"] = r.found->address;
            m["hardware_address"] = hw_text(r.found->hw);
            m["kind"] = r.facts.kind ? Json(*r.facts.kind) : Json(nullptr);
            m["kind_name"] = r.facts.kind ? Json(kind_name(*r.facts.kind)) : Json(nullptr);
            m["name"] = r.facts.name ? Json(*r.facts.name) : Json(nullptr);
            m["number"] = r.facts.number ? Json(*r.facts.number) : Json(nullptr);
            m["broadcast_only"] = r.found->broadcast_only;
            list.push_back(m);
        }
        print_json(list);
        if (rows.empty()) say_none_answered(session, g);
        return;
    }
    if (rows.empty()) {
        print("No modules found.\n");
        say_none_answered(session, g);
        return;
    }
    Table table({"ADDRESS", "HARDWARE", "KIND", "NAME", "NUMBER", "BROADCAST-ONLY"});
    for (const Row& r : rows) {
        table.add({r.found->address, hw_text(r.found->hw),
                   r.facts.kind ? kind_name(*r.facts.kind) : "-", r.facts.name.value_or("-"),
                   r.facts.number ? std::to_string(*r.facts.number) : "-",
                   r.found->broadcast_only ? "yes" : "no"});
    }
    print(table.render());
}

}  // namespace

Command discover(CLI::App& cmd) {
    auto o = std::make_shared<DiscoverOptions>();
    cmd.add_flag("--ipx", o->ipx, "search over IPX instead of UDP/IP");
    auto* number = cmd.add_option("--number", o->number, "only the module with this number");
    auto* name = cmd.add_option("--name", o->name, "only the module with this name");
    auto* item = cmd.add_option("--item", o->item,
                                "only modules holding this setup record: TYPE=HEX, e.g. "
                                "0x30=6C696E652041");
    number->excludes(name)->excludes(item);
    name->excludes(item);
    cmd.add_option("--timeout", o->listen_ms, "milliseconds to listen for answers (default 600)")
        ->check(CLI::Range(1, 60000));
    cmd.footer(
        "An empty network prints 'No modules found.' (with --json: []) and exits 0, with what to "
        "try on standard error.");
    return {.read_arguments = [o] { o->query = make_query(*o); },
            .run = [o](Context& c) { run_discover(*o, c); },
            .protocol = [o] { return o->ipx ? ZEB_PROTOCOL_IPX : ZEB_PROTOCOL_IP; }};
}

}  // namespace zeb::cli
