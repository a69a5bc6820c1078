// Writing a rack description back: the one the rack was read from, with the setup records and
// configuration blocks that the modules hold now.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>

#include "byte_text.h"
#include "rack.h"

namespace racksim {

namespace {

// Keeps the keys in the order the person wrote them.
using json = nlohmann::ordered_json;

constexpr size_t kWidth = 100;      // lines are kept within this many columns where they can be
constexpr size_t kHexPerLine = 24;  // bytes in one hex string of a longer block

json byte_json(const Bytes& b) {
    if (is_text(b)) return std::string(b.begin(), b.end());
    if (b.size() <= kHexPerLine) return json{{"hex", hex_text(b)}};
    json lines = json::array();
    for (size_t i = 0; i < b.size(); i += kHexPerLine) {
        lines.push_back(hex_text(b.data() + i, std::min(kHexPerLine, b.size() - i)));
    }
    return json{{"hex", lines}};
}

std::string type_key(uint16_t type) {
    char key[8];
    std::snprintf(key, sizeof key, "0x%04X", type);
    return key;
}

// A name that "name" can hold: what the reader takes back as the same record.
bool plain_name(const Bytes& r) {
    return r.size() <= 255 && is_text(r);
}

// A number that "number" can hold: a record exactly as the reader would write that number.
bool plain_number(const Bytes& r) {
    return r.size() <= 4 && r == number_record(number_of(r));
}

void describe_module(const Module& m, json& j) {
    json setup = json::object();
    const Bytes* name = m.setup.find(kSetupName);
    if (!name) {
        j["name"] = nullptr;
    } else if (plain_name(*name)) {
        j["name"] = std::string(name->begin(), name->end());
    } else {
        j.erase("name");
    }
    const Bytes* number = m.setup.find(kSetupNumber);
    if (!number) {
        j["number"] = nullptr;
    } else if (plain_number(*number)) {
        j["number"] = number_of(*number);
    } else {
        j.erase("number");
    }
    for (const auto& [type, record] : m.setup.records()) {
        if (type == kSetupName && plain_name(record)) continue;
        if (type == kSetupNumber && plain_number(record)) continue;
        setup[type_key(type)] = byte_json(record);
    }
    if (setup.empty()) {
        j.erase("setup");
    } else {
        j["setup"] = std::move(setup);
    }
    if (m.config.empty()) {
        j.erase("config");
    } else {
        j["config"] = byte_json(m.config);
    }
}

// ---- Printing: a value goes on one line when that line fits, else its members go on lines
// of their own; a list of plain values fills its lines.

std::string one_line(const json& j) {
    if (j.is_object() && !j.empty()) {
        std::string s = "{";
        for (auto it = j.begin(); it != j.end(); ++it) {
            if (it != j.begin()) s += ", ";
            s += json(it.key()).dump() + ": " + one_line(it.value());
        }
        return s + "}";
    }
    if (j.is_array() && !j.empty()) {
        std::string s = "[";
        for (size_t i = 0; i < j.size(); ++i) s += (i ? ", " : "") + one_line(j[i]);
        return s + "]";
    }
    return j.dump();
}

bool plain_values(const json& j) {
    for (const json& e : j) {
        if (e.is_structured()) return false;
    }
    return true;
}

// `column` is where the value starts, `after` the characters that follow it on its line.
void print(const json& j, size_t indent, size_t column, size_t after, std::string& out) {
    const std::string line = one_line(j);
    if (!j.is_structured() || column + line.size() + after <= kWidth) {
        out += line;
        return;
    }
    const std::string inner(indent + 2, ' ');
    if (j.is_array() && plain_values(j)) {
        out += "[\n" + inner;
        size_t col = inner.size();
        for (size_t i = 0; i < j.size(); ++i) {
            const std::string v = one_line(j[i]) + (i + 1 < j.size() ? "," : "");
            if (i > 0 && col + 1 + v.size() > kWidth) {
                out += "\n" + inner;
                col = inner.size();
            } else if (i > 0) {
                out += " ";
                ++col;
            }
            out += v;
            col += v.size();
        }
        out += "\n" + std::string(indent, ' ') + "]";
        return;
    }
    out += j.is_object() ? "{\n" : "[\n";
    size_t i = 0;
    for (auto it = j.begin(); it != j.end(); ++it, ++i) {
        out += inner;
        size_t col = inner.size();
        if (j.is_object()) {
            const std::string key = json(it.key()).dump() + ": ";
            out += key;
            col += key.size();
        }
        const bool last = i + 1 == j.size();
        print(it.value(), indent + 2, col, last ? 0 : 1, out);
        out += last ? "\n" : ",\n";
    }
    out += std::string(indent, ' ') + (j.is_object() ? "}" : "]");
}

}  // namespace

bool Rack::describe(std::string* text, std::string* error) const {
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return false;
    };
    if (description_.empty()) return fail("the rack was not read from a description");
    try {
        json root = json::parse(description_, nullptr, true, /*ignore_comments=*/true);
        json& list = root.at("modules");
        if (!list.is_array() || list.size() != modules_.size()) {
            return fail("the description no longer matches the rack");
        }
        for (size_t i = 0; i < modules_.size(); ++i) describe_module(modules_[i], list[i]);
        std::string out;
        print(root, 0, 0, 0, out);
        *text = out + "\n";
        return true;
    } catch (const json::exception& e) {
        return fail(e.what());
    }
}

bool Rack::save(const std::string& path, std::string* error) const {
    std::string text;
    if (!describe(&text, error)) return false;
    const std::string temporary = path + ".saving";
    auto fail = [&](const std::string& what) {
        if (error) *error = what + " " + temporary + ": " + std::strerror(errno);
        std::remove(temporary.c_str());
        return false;
    };
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) return fail("cannot write");
        out << text;
        out.flush();
        if (!out) return fail("cannot write");
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        const int err = errno;
        std::remove(temporary.c_str());
        if (error) *error = "cannot replace " + path + ": " + std::strerror(err);
        return false;
    }
    return true;
}

}  // namespace racksim
