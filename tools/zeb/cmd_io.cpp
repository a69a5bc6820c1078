// zeb io read, write and watch: a module's inputs and outputs.
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>

#include "commands.h"
#include "failure.h"
#include "interrupt.h"
#include "io_view.h"
#include "output.h"
#include "session.h"

namespace zeb::cli {

namespace {

constexpr uint16_t kBaseDefSize = 991;
constexpr uint16_t kInputSize = 1189;  // the most an I/O reply carries

BaseLayout read_layout(Device& device) {
    std::array<uint8_t, kBaseDefSize> buffer{};
    buffer[0] = 0xB1;  // the extended item format
    uint16_t size = kBaseDefSize;
    check("base definition of " + device.address(),
          ZEBReadBaseDef(device.get(), buffer.data(), &size));
    return parse_base_definition(std::span(buffer).first(size));
}

// One read of the inputs: the result, and the inputs cut to the layout's counts.
uint32_t read_inputs(Device& device, const BaseLayout& layout, Image* inputs) {
    std::array<uint8_t, kInputSize> buffer{};
    buffer[0] = 0xB1;
    uint16_t size = kInputSize;
    const uint32_t result = ZEBReadIO(device.get(), buffer.data(), &size);
    if (!ZEB_SUCCEEDED(result)) return result;
    *inputs = parse_inputs(std::span(buffer).first(std::min<std::size_t>(size, buffer.size())));
    fit_inputs(*inputs, layout);
    return result;
}

struct ReadOptions {
    std::string module;
};

void run_read(const ReadOptions& o, const GlobalOptions& g) {
    const ModuleRef ref = module_argument(o.module);
    Session session(g);
    auto device = session.open(ref);
    const BaseLayout layout = read_layout(*device);
    Image inputs;
    check("reading the inputs of " + device->address(), read_inputs(*device, layout, &inputs));
    if (g.json) {
        print_json(inputs_json(inputs));
    } else if (inputs.empty()) {
        print("No inputs.\n");
    } else {
        print(render_inputs(input_rows(inputs)));
    }
}

struct WriteOptions {
    std::string module;
    std::vector<std::string> assignments;
};

void run_write(const WriteOptions& o, const GlobalOptions& g) {
    const ModuleRef ref = module_argument(o.module);
    std::vector<Assignment> assignments;
    for (const std::string& text : o.assignments) {
        std::string why;
        const auto a = parse_assignment(text, &why);
        if (!a) fail_usage(why);
        assignments.push_back(*a);
    }
    Session session(g);
    auto device = session.open(ref);
    const BaseLayout layout = read_layout(*device);
    Image outputs;
    std::string why;
    if (!build_outputs(assignments, layout, &outputs, &why))
        fail_usage(device->address() + ": " + why);
    const Bytes stream = build_output_stream(outputs);
    std::array<uint8_t, kInputSize> inputs{};
    uint16_t size = kInputSize;
    check("writing the outputs of " + device->address(),
          ZEBWriteIO(device->get(), stream.data(), static_cast<uint32_t>(stream.size()),
                     inputs.data(), &size));
}

struct WatchOptions {
    std::string module;
    unsigned interval_ms = 500;
    unsigned count = 0;  // 0: until Ctrl-C
    bool plain = false;
};

std::string clock_text() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char buf[16];
    std::strftime(buf, sizeof buf, "%H:%M:%S", &local);
    return buf;
}

// A table redrawn in place: each frame moves back over the lines of the one before. Lines are
// drawn with wrapping off, so that one wider than the terminal stays one line.
class LiveView {
  public:
    void draw(const std::vector<std::string>& lines) {
        std::string out = "\x1b[?7l";
        if (drawn_ > 0) out += "\x1b[" + std::to_string(drawn_) + "F";
        for (const std::string& line : lines) out += line + "\x1b[K\n";
        out += "\x1b[J\x1b[?7h";
        drawn_ = lines.size();
        print(out);
        std::fflush(stdout);
    }

  private:
    std::size_t drawn_ = 0;
};

std::vector<std::string> table_lines(const std::vector<IoRow>& rows,
                                     const std::vector<IoRow>& previous, bool first) {
    Table table({"SLOT", "KIND", "COUNT", "VALUES"});
    for (const IoRow& r : rows) {
        table.add({std::to_string(r.slot), kind_word(r.kind), std::to_string(r.values.size()),
                   format_values(r, first ? nullptr : find_row(previous, r), Mark::kTerminal)});
    }
    std::vector<std::string> lines;
    const std::string text = table.render();
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

void run_watch(const WatchOptions& o, const GlobalOptions& g) {
    const ModuleRef ref = module_argument(o.module);
    Session session(g);
    auto device = session.open(ref);
    const BaseLayout layout = read_layout(*device);
    const bool live = !o.plain && isatty(STDOUT_FILENO);
    catch_interrupt();

    const auto start = std::chrono::steady_clock::now();
    LiveView view;
    std::vector<IoRow> previous;
    bool have_previous = false;
    uint32_t last_result = 0;
    std::string status;
    for (unsigned reads = 1; !interrupted(); ++reads) {
        Image inputs;
        last_result = read_inputs(*device, layout, &inputs);
        const bool ok = ZEB_SUCCEEDED(last_result);
        const std::vector<IoRow> rows = ok ? input_rows(inputs) : previous;
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count();
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "+%lld.%03llds", static_cast<long long>(elapsed / 1000),
                      static_cast<long long>(elapsed % 1000));
        if (live) {
            std::string header = device->address() + "  read " + std::to_string(reads) + " every " +
                                 std::to_string(o.interval_ms) + " ms  " + clock_text() +
                                 "  (Ctrl-C ends)";
            if (!ok) header += "\n  no reply: " + result_text(last_result);
            std::vector<std::string> lines{header, ""};
            for (std::string& line : table_lines(rows, previous, !have_previous)) {
                lines.push_back(std::move(line));
            }
            view.draw(lines);
        } else if (!ok) {
            char code[16];
            std::snprintf(code, sizeof code, "0x%08X", last_result);
            print(std::string(stamp) + "  read failed: result " + code + " " +
                  result_text(last_result) + "\n");
        } else {
            std::string out;
            for (const IoRow& r : rows) {
                out +=
                    std::string(stamp) + "  slot " + std::to_string(r.slot) + "  " +
                    kind_word(r.kind) + "  " +
                    format_values(r, have_previous ? find_row(previous, r) : nullptr, Mark::kStar) +
                    "\n";
            }
            print(out);
            std::fflush(stdout);
        }
        if (ok) {
            previous = rows;
            have_previous = true;
        }
        if (o.count != 0 && reads >= o.count) break;
        sleep_ms(o.interval_ms);
    }
    if (!ZEB_SUCCEEDED(last_result))
        fail_result("reading the inputs of " + device->address(), last_result);
}

}  // namespace

void add_io(CLI::App& app, const GlobalOptions& options) {
    CLI::App* io = app.add_subcommand("io", "Read, write and watch a module's I/O");
    io->require_subcommand(1);

    auto read = std::make_shared<ReadOptions>();
    CLI::App* cmd = io->add_subcommand("read", "Show every slot's inputs");
    cmd->add_option("MODULE", read->module, kModuleHelp)->required();
    cmd->callback([read, &options] { run_read(*read, options); });

    auto write = std::make_shared<WriteOptions>();
    cmd =
        io->add_subcommand("write", "Write outputs: SLOT.KIND.INDEX=VALUE or SLOT.KIND=V0,V1,...");
    cmd->add_option("MODULE", write->module, kModuleHelp)->required();
    cmd->add_option("VALUES", write->assignments,
                    "outputs to write, e.g. 3.bit.1=1 4.word.0=1200 5.dword=7,8 (KIND: bit, word "
                    "or dword)")
        ->required();
    cmd->footer(
        "Each slot and kind named is written from point 0 up to the highest point named (bits "
        "up to the end of its group of eight, as they travel in bytes); points in between that "
        "are not given are written as 0, since a module does not report its outputs. Other "
        "slots and kinds are not written.");
    cmd->callback([write, &options] { run_write(*write, options); });

    auto watch = std::make_shared<WatchOptions>();
    cmd = io->add_subcommand("watch", "Read the inputs again and again, changes highlighted");
    cmd->add_option("MODULE", watch->module, kModuleHelp)->required();
    cmd->add_option("--interval", watch->interval_ms, "milliseconds between reads")
        ->check(CLI::Range(10, 3600000))
        ->capture_default_str();
    cmd->add_option("--count", watch->count, "stop after this many reads (default: Ctrl-C)");
    cmd->add_flag("--plain", watch->plain, "plain lines even on a terminal");
    cmd->footer(
        "On a terminal the table is redrawn in place and changed values are shown in reverse "
        "video; otherwise each read prints one line per slot and kind, prefixed with the time "
        "since the start, a changed value followed by '*'. Ctrl-C ends it.");
    cmd->callback([watch, &options] { run_watch(*watch, options); });
}

}  // namespace zeb::cli
