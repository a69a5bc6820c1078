#include "http/http_api.h"

#include <cstdint>
#include <vector>

#include "http/input_changes.h"
#include "http/module_files.h"
#include "http/rack_view.h"
#include "rack_json.h"

namespace racksim {

namespace {

using json = nlohmann::json;

std::vector<std::string> split_path(const std::string& path) {
    std::vector<std::string> parts;
    size_t from = 0;
    while (from <= path.size()) {
        const size_t to = std::min(path.find('/', from), path.size());
        if (to > from) parts.push_back(path.substr(from, to - from));
        from = to + 1;
    }
    return parts;
}

bool all_digits(const std::string& s) {
    if (s.empty() || s.size() > 9) return false;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

// A module by its place in the rack (from 0), its address, or its name.
Module& find_module(Rack& rack, const std::string& who, size_t* index) {
    auto& modules = rack.modules();
    if (all_digits(who)) {
        const size_t i = std::stoul(who);
        if (i >= modules.size()) {
            throw Refusal(404, "no module " + who + ": the rack has " +
                                   std::to_string(modules.size()) + " (0 to " +
                                   std::to_string(modules.size() - 1) + ")");
        }
        *index = i;
        return modules[i];
    }
    uint32_t ip = 0;
    const bool is_address = parse_ip(who, &ip);
    Module* found = nullptr;
    for (size_t i = 0; i < modules.size(); ++i) {
        if (is_address ? modules[i].identity.ip != ip : modules[i].name() != who) continue;
        if (found) {
            throw Refusal(409, "two modules are named \"" + who + "\"; give its place (" +
                                   std::to_string(*index) + " or " + std::to_string(i) +
                                   ") or its address");
        }
        found = &modules[i];
        *index = i;
    }
    if (!found) {
        throw Refusal(404,
                      "no module \"" + who + "\" (give its place from 0, its address or its name)");
    }
    return *found;
}

json parse_body(const std::string& body) {
    if (body.empty()) throw Refusal(400, "the request needs a JSON body");
    try {
        return json::parse(body);
    } catch (const json::parse_error& e) {
        // e.what() starts with the library's own tag; keep the readable part.
        const std::string what = e.what();
        const auto pos = what.find("] ");
        throw Refusal(400,
                      "malformed JSON: " + what.substr(pos == std::string::npos ? 0 : pos + 2));
    }
}

void only_keys(const json& body, std::initializer_list<const char*> keys) {
    if (!body.is_object()) throw Refusal(400, "body: expected an object");
    for (const auto& [key, value] : body.items()) {
        bool known = false;
        for (const char* k : keys) known = known || key == k;
        if (!known) throw Refusal(400, "body: unknown key \"" + key + "\"");
    }
}

[[noreturn]] void wrong_method(const ApiRequest& r, const char* allowed) {
    throw Refusal(405, r.method + " is not taken here; " + r.path + " takes " + allowed);
}

OrderedJson faults_reply(const Module& m) {
    return {{"module", m.name()},
            {"faults", faults_view(m.faults)},
            {"faults_by_function", faults_by_function_view(m.faults_by_function)}};
}

OrderedJson manners() {
    OrderedJson list = OrderedJson::array();
    for (const NamedManner& n : named_manners())
        list.push_back({{"name", n.name}, {"what", n.what}});
    list.push_back(
        {{"name", kRandomManner}, {"what", "a manner drawn for each request from the seed"}});
    return list;
}

}  // namespace

template <class F>
auto HttpApi::on_module(const std::string& who, F f) {
    return server_.with_rack([&](Rack& rack) {
        size_t index = 0;
        Module& m = find_module(rack, who, &index);
        return f(m, index);
    });
}

HttpApi::~HttpApi() {
    log_.close();
    std::lock_guard<std::mutex> lock(watchers_mutex_);
    if (watchers_ > 0) server_.set_log_tap(nullptr);
}

bool HttpApi::join_log() {
    std::lock_guard<std::mutex> lock(watchers_mutex_);
    if (watchers_ == kMaxLogWatchers) return false;
    if (watchers_++ == 0) {
        RequestLog* log = &log_;
        server_.set_log_tap([log](const std::string& line) { log->add(line); });
    }
    return true;
}

void HttpApi::leave_log() {
    std::lock_guard<std::mutex> lock(watchers_mutex_);
    if (watchers_ > 0 && --watchers_ == 0) server_.set_log_tap(nullptr);
}

ApiReply HttpApi::handle(const ApiRequest& request) {
    try {
        return route(request);
    } catch (const Refusal& r) {
        return error_reply(r.status, r.what());
    }
}

ApiReply HttpApi::route(const ApiRequest& r) {
    const std::vector<std::string> parts = split_path(r.path);
    const bool get = r.method == "GET";
    if (parts.size() == 2 && parts[1] == "rack") {
        if (!get) wrong_method(r, "GET");
        return rack();
    }
    if (parts.size() == 2 && parts[1] == "manners") {
        if (!get) wrong_method(r, "GET");
        return json_reply(200, manners());
    }
    if (parts.size() == 2 && parts[1] == "modules") {
        if (!get) wrong_method(r, "GET");
        const RackState state = server_.with_rack([](Rack& rack) { return rack_state(rack); });
        return json_reply(200, rack_view(state)["modules"]);
    }
    if ((parts.size() == 3 || parts.size() == 4) && parts[1] == "modules") {
        return module_request(r, parts[2], parts.size() == 4 ? parts[3] : "");
    }
    throw Refusal(404, "no resource " + r.path + " (the API is under /api/rack and /api/modules)");
}

ApiReply HttpApi::rack() {
    const RackState state = server_.with_rack([](Rack& rack) { return rack_state(rack); });
    OrderedJson view = rack_view(state);
    // The modules, long, after the rest.
    OrderedJson modules = std::move(view["modules"]);
    view.erase("modules");
    const ServerStats s = server_.stats();
    view["server"] = {{"udp_port", server_.port()},
                      {"received", s.received},
                      {"sent", s.sent},
                      {"refused_remote", s.refused_remote},
                      {"send_errors", s.send_errors},
                      {"best_second", s.best_second}};
    {
        std::lock_guard<std::mutex> lock(watchers_mutex_);
        view["server"]["log_watchers"] = watchers_;
    }
    view["modules"] = std::move(modules);
    return json_reply(200, view);
}

ApiReply HttpApi::module_request(const ApiRequest& r, const std::string& who,
                                 const std::string& part) {
    if (part.empty()) {
        if (r.method != "GET") wrong_method(r, "GET");
        const ModuleState state =
            on_module(who, [](Module& m, size_t i) { return module_state(m, i); });
        return json_reply(200, module_view(state));
    }
    if (part == "inputs") return inputs(r, who);
    if (part == "outputs") {
        if (r.method != "GET") wrong_method(r, "GET");
        return json_reply(200,
                          on_module(who, [](Module& m, size_t) { return image_view(m, true); }));
    }
    if (part == "faults") return faults(r, who);
    if (part == "manner") return manner(r, who);
    if (part == "files" || part == "file") return files(r, who, part == "files");
    throw Refusal(404, "no resource " + r.path +
                           " (a module has inputs, outputs, faults, manner, files and file)");
}

ApiReply HttpApi::inputs(const ApiRequest& r, const std::string& who) {
    if (r.method == "GET") {
        return json_reply(200,
                          on_module(who, [](Module& m, size_t) { return image_view(m, false); }));
    }
    if (r.method != "PATCH") wrong_method(r, "GET and PATCH");
    // Read whole before the lock is taken; checked whole and made under it.
    const std::vector<InputChange> changes = read_input_changes(parse_body(r.body));
    return json_reply(200, on_module(who, [&](Module& m, size_t) {
                          check_input_changes(m, changes);
                          apply_input_changes(m, changes);
                          return image_view(m, false);
                      }));
}

ApiReply HttpApi::faults(const ApiRequest& r, const std::string& who) {
    Faults faults;
    std::map<uint8_t, Faults> by_function;
    if (r.method == "PUT") {
        const json body = parse_body(r.body);
        only_keys(body, {"faults", "faults_by_function"});
        const json none = json::object();
        std::string error;
        if (!read_faults_json(
                body.contains("faults") ? body["faults"] : none,
                body.contains("faults_by_function") ? &body["faults_by_function"] : nullptr,
                "faults", &faults, &by_function, &error)) {
            throw Refusal(400, error);
        }
    } else if (r.method != "DELETE" && r.method != "GET") {
        wrong_method(r, "GET, PUT and DELETE");
    }
    return json_reply(200, on_module(who, [&](Module& m, size_t) {
                          if (r.method != "GET") {
                              // Each loss generator starts afresh from its seed, as when the
                              // module joined the rack.
                              m.faults = faults;
                              m.faults.rng_state = m.faults.seed;
                              m.faults_by_function = by_function;
                              for (auto& [code, f] : m.faults_by_function) f.rng_state = f.seed;
                          }
                          return faults_reply(m);
                      }));
}

ApiReply HttpApi::manner(const ApiRequest& r, const std::string& who) {
    MannerSetting setting;  // plain
    if (r.method == "PUT") {
        const json body = parse_body(r.body);
        only_keys(body, {"manner"});
        if (!body.contains("manner")) throw Refusal(400, "body: missing \"manner\"");
        std::string error;
        if (!read_manner_json(body["manner"], "manner", &setting, &error)) {
            throw Refusal(400, error);
        }
    } else if (r.method != "DELETE" && r.method != "GET") {
        wrong_method(r, "GET, PUT and DELETE");
    }
    return json_reply(
        200, on_module(who, [&](Module& m, size_t) {
            if (r.method != "GET") {
                m.manner = setting;
                start_manner(m.manner, m.faults.seed, m.manner_state);
            }
            return OrderedJson{{"module", m.name()}, {"manner", manner_view(m.manner)}};
        }));
}

ApiReply HttpApi::files(const ApiRequest& r, const std::string& who, bool list) {
    if (r.method != "GET") wrong_method(r, "GET");
    const std::string root = on_module(who, [](Module& m, size_t) {
        if (!m.controller_os.enabled()) {
            throw Refusal(409, "\"" + m.name() +
                                   "\" is no controller module (its rack entry gives no "
                                   "\"controller_root\")");
        }
        return m.controller_os.root;
    });
    const auto path = r.query.find("path");
    const std::string p = path == r.query.end() ? "" : path->second;
    // The host's file system, not the rack: read without the serving lock.
    if (list) return json_reply(200, list_module_folder(root, p));
    return ApiReply{200, "application/octet-stream", read_module_file(root, p)};
}

}  // namespace racksim
