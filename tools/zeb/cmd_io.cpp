// zeb io read, write and watch: a module's inputs and outputs as points, through the library's
// point image.
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>

#include "commands.h"
#include "failure.h"
#include "interrupt.h"
#include "io_assign.h"
#include "io_view.h"
#include "module_facts.h"
#include "output.h"
#include "outputs_record.h"
#include "session.h"

namespace zeb::cli {

namespace {

std::unique_ptr<ZEBImage> read_layout(Device& device) {
    auto image = new_image();
    check("base definition of " + device.address(), ZEBReadImageLayout(device.get(), image.get()));
    return image;
}

void add_style(CLI::App& cmd, ValueStyle& style) {
    auto* is_signed = cmd.add_flag("--signed", style.is_signed,
                                   "words and 32-bit values as signed (two's complement)");
    cmd.add_flag("--hex", style.hex, "words and 32-bit values in hex (0x04B0)")
        ->excludes(is_signed);
}

void run_read(const ValueStyle& style, Context& c) {
    Device* device = c.device;
    auto image = read_layout(*device);
    check("reading the inputs of " + device->address(), ZEBReadInputs(device->get(), image.get()));
    const std::vector<IoRow> rows = point_rows(*image, false);
    if (c.options.json) {
        print_json(points_json(*image, false, style));
    } else if (rows.empty()) {
        print("No inputs.\n");
    } else {
        print(render_rows(rows, style));
    }
}

struct WriteOptions {
    std::vector<std::string> texts;
    bool all = false;
    ValueStyle style;
    std::vector<Assignment> assignments;  // the texts read
};

void read_arguments(WriteOptions& o) {
    for (const std::string& text : o.texts) {
        std::string why;
        const auto a = parse_assignment(text, &why);
        if (!a) fail_usage(why);
        o.assignments.push_back(*a);
    }
}

void run_write(const WriteOptions& o, Context& c) {
    Device* device = c.device;
    auto image = read_layout(*device);

    // The outputs this host last wrote, by the module's hardware address.
    const std::optional<HwAddress> hw = read_hardware_address(device->get());
    const auto path = hw ? outputs_record_path(*hw) : std::nullopt;
    Json record;
    if (path) {
        std::string why;
        record = read_outputs_record(*path, &why);
        if (!why.empty()) std::fprintf(stderr, "zeb: %s; taken as no record\n", why.c_str());
    }
    const std::set<int> known = restore_outputs(*image, record);

    WritePlan plan;
    std::string why;
    if (!plan_write(*image, o.assignments, known, o.all, &plan, &why)) {
        fail_usage(device->address() + ": " + why);
    }
    auto sent = image_of_slots(*image, plan.slots);
    check("writing the outputs of " + device->address(),
          ZEBWriteOutputs(device->get(), sent.get()));

    std::string not_kept = "the module's hardware address is unknown";
    if (path) {
        const Json updated =
            updated_outputs_record(record, *image, plan.slots, *hw, device->address());
        if (write_outputs_record(*path, updated, &not_kept)) not_kept.clear();
    }
    if (!not_kept.empty()) {
        std::fprintf(stderr, "zeb: the outputs written are not kept: %s\n", not_kept.c_str());
    }
    if (c.options.json) {
        Json points = Json::array();
        for (const WrittenPoint& p : plan.points) {
            points.push_back({{"slot", p.slot},
                              {"kind", kind_word(p.kind)},
                              {"index", p.index},
                              {"value", value_json(p.kind, p.value, o.style)}});
        }
        print_json({{"address", device->address()},
                    {"hardware_address", hw ? Json(hw_text(*hw)) : Json(nullptr)},
                    {"written", points},
                    {"outputs", points_json(*sent, true, o.style)},
                    {"record", path ? Json(path->string()) : Json(nullptr)}});
        return;
    }
    const std::size_t n = plan.points.size();
    std::string line = "Written " + std::to_string(n) + (n == 1 ? " point: " : " points: ");
    const std::vector<std::string> texts = written_texts(plan, o.style);
    for (std::size_t i = 0; i < texts.size(); ++i) line += (i ? ", " : "") + texts[i];
    print(line + "\n");
}

struct WatchOptions {
    unsigned interval_ms = 500;
    unsigned count = 0;  // 0: until Ctrl-C
    bool plain = false;
    ValueStyle style;
};

std::string clock_text() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char buf[16];
    std::strftime(buf, sizeof buf, "%H:%M:%S", &local);
    return buf;
}

// Lines the terminal shows; 0 when it does not say.
std::size_t terminal_height() {
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) return 0;
    return size.ws_row;
}

// A frame redrawn in place: each one moves back over the lines of the one before. Lines are
// drawn with wrapping off, so that one wider than the terminal stays one line; the frame is cut
// to the terminal's height, since lines that scrolled off cannot be gone back over.
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

void run_watch(const WatchOptions& o, Context& c) {
    const GlobalOptions& g = c.options;
    Device* device = c.device;
    auto image = read_layout(*device);
    const bool live = !o.plain && !g.json && isatty(STDOUT_FILENO);
    catch_interrupt();

    const auto start = std::chrono::steady_clock::now();
    LiveView view;
    std::vector<IoRow> previous;
    bool have_previous = false;
    uint32_t last_result = 0;
    for (unsigned reads = 1; !interrupted(); ++reads) {
        last_result = ZEBReadInputs(device->get(), image.get());
        const bool ok = ZEB_SUCCEEDED(last_result);
        const std::vector<IoRow> rows = ok ? point_rows(*image, false) : previous;
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count();
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "+%lld.%03llds", static_cast<long long>(elapsed / 1000),
                      static_cast<long long>(elapsed % 1000));
        if (g.json) {
            Json line{{"read", reads}, {"elapsed_ms", elapsed}};
            if (ok) {
                line["inputs"] = points_json(*image, false, o.style);
            } else {
                line["error"] = {{"result", last_result},
                                 {"text", failed_exchange_text(last_result)}};
            }
            print(line.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n");
            std::fflush(stdout);
        } else if (live) {
            std::vector<std::string> header{device->address() + "  read " + std::to_string(reads) +
                                            " every " + std::to_string(o.interval_ms) + " ms  " +
                                            clock_text() + "  (Ctrl-C ends)"};
            if (!ok) header.push_back("  no reply: " + failed_exchange_text(last_result));
            header.emplace_back();
            view.draw(fit_frame(
                header,
                table_lines(rows, have_previous ? &previous : nullptr, Mark::kTerminal, o.style),
                terminal_height()));
        } else if (!ok) {
            print(std::string(stamp) + "  read failed: " + failed_exchange_text(last_result) +
                  "\n");
            std::fflush(stdout);
        } else {
            std::string out;
            for (const IoRow& r : rows) {
                const IoRow* before = have_previous ? find_row(previous, r) : nullptr;
                out += std::string(stamp) + "  slot " + std::to_string(r.slot) + "  " +
                       kind_word(r.kind) + "  " + format_values(r, before, Mark::kStar, o.style) +
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

Command io_read(CLI::App& cmd) {
    auto style = std::make_shared<ValueStyle>();
    add_style(cmd, *style);
    cmd.footer(
        "Bits are shown eight to a group, point 0 first; words and 32-bit values in decimal, "
        "unsigned unless --signed, in hex with --hex.");
    return {.run = [style](Context& c) { run_read(*style, c); }};
}

Command io_write(CLI::App& cmd) {
    auto o = std::make_shared<WriteOptions>();
    cmd.add_option("VALUES", o->texts,
                   "outputs to write, e.g. 3.bit.6=1 4.word.0=1200 5.dword=7,8 3.bits=0x41 "
                   "(KIND: bit, word or dword)")
        ->required();
    cmd.add_flag("--all", o->all,
                 "write the outputs not named as 0 where zeb has no record of them");
    add_style(cmd, o->style);
    cmd.footer(
        "A module does not report its outputs, so zeb keeps those this host last wrote to each "
        "module, in $XDG_STATE_HOME/zeb/outputs/ (~/.local/state/zeb/outputs/ by default), one "
        "file per hardware address. Only the slots named are sent, each with every one of its "
        "outputs: the points named, the others as last written. Without a record of a slot, "
        "zeb writes it only when every output of the slot is named (SLOT.bits=MASK names all "
        "its bit outputs), or with --all.");
    return {.read_arguments = [o] { read_arguments(*o); },
            .run = [o](Context& c) { run_write(*o, c); }};
}

Command io_watch(CLI::App& cmd) {
    auto o = std::make_shared<WatchOptions>();
    cmd.add_option("--interval", o->interval_ms, "milliseconds between reads")
        ->check(CLI::Range(10, 3600000))
        ->capture_default_str();
    cmd.add_option("--count", o->count, "stop after this many reads (default: Ctrl-C)");
    cmd.add_flag("--plain", o->plain, "plain lines even on a terminal");
    add_style(cmd, o->style);
    cmd.footer(
        "On a terminal the table is redrawn in place, cut to the terminal's height, and changed "
        "values are shown in reverse video; otherwise each read prints one line per slot and "
        "kind, prefixed with the time since the start, a changed value followed by '*'. With "
        "--json each read prints one JSON object on one line. Ctrl-C ends it.");
    return {.run = [o](Context& c) { run_watch(*o, c); }};
}

}  // namespace zeb::cli
