// zeb io read, write and watch against the sample rack's press-line (127.0.0.2): slot 1's bit
// inputs mirror slot 3's bit outputs, slot 5's 32-bit inputs its own outputs, and slot 4's
// word input 0 counts the reads.
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "zeb_fixture.h"

namespace zebtest {
namespace {

using nlohmann::json;

class Io : public ZebTest {
  protected:
    // Slot 3's bit outputs as the module holds them, point 0 first.
    std::vector<int> slot3_bits() {
        const uint8_t byte =
            rack([](racksim::Rack& r) { return r.module(0).slot(3).io.bit_out.at(0); });
        std::vector<int> bits;
        for (int i = 0; i < 8; ++i) bits.push_back((byte >> i) & 1);
        return bits;
    }
};

json slot_of(const json& inputs, int slot) {
    for (const json& s : inputs) {
        if (s["slot"] == slot) return s;
    }
    return {};
}

TEST_F(Io, ReadShowsEverySlotsInputs) {
    const ZebRun run = run_zeb({"io", "read", "127.0.0.2", "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    const json inputs = json_of(run);
    EXPECT_EQ(slot_of(inputs, 0)["bits"], json({1, 0, 1, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(slot_of(inputs, 1)["bits"], json({0, 0, 0, 0, 0, 0, 0, 0}));
    const json words = slot_of(inputs, 4)["words"];
    ASSERT_EQ(words.size(), 4u);
    EXPECT_EQ(words[1], 1200);
    EXPECT_EQ(slot_of(inputs, 5)["dwords"], json({0, 0}));
    // Kind 7 record: 4 bit inputs cut from the byte the stream carries, and one word.
    EXPECT_EQ(
        slot_of(inputs, 6),
        json({{"slot", 6}, {"bits", {1, 0, 1, 0}}, {"words", {77}}, {"dwords", json::array()}}));
    EXPECT_TRUE(slot_of(inputs, 3).is_null()) << "a slot with outputs only has no inputs";

    const ZebRun table = run_zeb({"io", "read", "press-line"});
    ASSERT_EQ(table.status, 0) << table.err;
    EXPECT_EQ(table.out.rfind("SLOT  KIND   COUNT  VALUES\n"
                              "0     bit    16     10110000 10000000\n"
                              "1     bit    8      00000000\n"
                              "4     word   4      ",
                              0),
              0u)
        << table.out;
    EXPECT_NE(table.out.find("5     dword  2      0 0\n6     bit    4      1010\n"
                             "6     word   1      77\n"),
              std::string::npos)
        << table.out;
}

TEST_F(Io, ReadShowsValuesSignedOrInHex) {
    ASSERT_EQ(run_zeb({"io", "write", "127.0.0.2", "5.dword=7,-1"}).status, 0);
    const ZebRun hex = run_zeb({"io", "read", "127.0.0.2", "--hex"});
    ASSERT_EQ(hex.status, 0) << hex.err;
    EXPECT_NE(hex.out.find("0x04B0 0x0960 0x0E10\n"), std::string::npos) << hex.out;
    EXPECT_NE(hex.out.find("5     dword  2      0x00000007 0xFFFFFFFF\n"), std::string::npos);
    EXPECT_NE(hex.out.find("6     bit    4      1010\n"), std::string::npos) << "bits stay 0 or 1";
    EXPECT_NE(run_zeb({"io", "read", "127.0.0.2", "--signed"}).out.find("2      7 -1\n"),
              std::string::npos);
    EXPECT_EQ(
        slot_of(json_of(run_zeb({"io", "read", "127.0.0.2", "--signed", "--json"})), 5)["dwords"],
        json({7, -1}));
}

TEST_F(Io, WriteChangesOnlyThePointsNamed) {
    // No record yet: a write of some of slot 3's outputs is refused, and nothing is sent.
    const ZebRun guess = run_zeb({"io", "write", "127.0.0.2", "3.bit.6=1"});
    EXPECT_EQ(guess.status, 2);
    EXPECT_NE(guess.err.find("does not know what this host last wrote to slot 3"),
              std::string::npos)
        << guess.err;
    EXPECT_NE(guess.err.find("3.bits=0x41"), std::string::npos) << guess.err;
    EXPECT_EQ(rack([](racksim::Rack& r) { return r.module(0).counters.by_function[0x06]; }), 0u);

    // The whole slot, then one point: the bit already on stays on.
    const ZebRun whole = run_zeb({"io", "write", "127.0.0.2", "3.bits=0x01"});
    ASSERT_EQ(whole.status, 0) << whole.err;
    EXPECT_EQ(whole.out, "Written 8 points: 3.bit.0..7 = 1,0,0,0,0,0,0,0\n");
    const ZebRun one = run_zeb({"io", "write", "127.0.0.2", "3.bit.6=1"});
    ASSERT_EQ(one.status, 0) << one.err;
    EXPECT_EQ(one.out, "Written 1 point: 3.bit.6 = 1\n");
    EXPECT_EQ(slot3_bits(), (std::vector<int>{1, 0, 0, 0, 0, 0, 1, 0}));

    // Other slots are not sent: slot 4's words, written by another host, stay.
    rack([](racksim::Rack& r) { r.module(0).slot(4).io.word_out = {1, 2, 3, 4}; });
    const json written = json_of(run_zeb({"io", "write", "127.0.0.2", "3.bit.0=0", "--json"}));
    EXPECT_EQ(written["written"], json::parse(R"([{"slot":3,"kind":"bit","index":0,"value":0}])"));
    EXPECT_EQ(written["outputs"],
              json::parse(R"([{"slot":3,"bits":[0,0,0,0,0,0,1,0],"words":[],"dwords":[]}])"));
    EXPECT_EQ(written["hardware_address"], "02:52:53:00:00:01");
    EXPECT_EQ(written["record"], state_dir_ + "/zeb/outputs/02-52-53-00-00-01.json");
    EXPECT_EQ(rack([](racksim::Rack& r) { return r.module(0).slot(4).io.word_out; }),
              (std::vector<uint16_t>{1, 2, 3, 4}));
    EXPECT_EQ(slot3_bits(), (std::vector<int>{0, 0, 0, 0, 0, 0, 1, 0}));

    // The module found by its name is the same module, and so is its record; --all writes a
    // slot without a record, the outputs not named as 0.
    ASSERT_EQ(run_zeb({"io", "write", "press-line", "3.bit.1=1"}).status, 0);
    EXPECT_EQ(slot3_bits(), (std::vector<int>{0, 1, 0, 0, 0, 0, 1, 0}));
    ASSERT_EQ(run_zeb({"io", "write", "127.0.0.2", "4.word.1=9", "--all"}).status, 0);
    EXPECT_EQ(rack([](racksim::Rack& r) { return r.module(0).slot(4).io.word_out; }),
              (std::vector<uint16_t>{0, 9, 0, 0}));
}

TEST_F(Io, WriteRefusesWhatTheBaseDoesNotHold) {
    struct Case {
        std::vector<std::string> values;
        const char* says;
    };
    const Case cases[] = {
        {{"2.bit.0=1"}, "slot 2 holds no module with I/O"},
        {{"3.bit.8=1"}, "slot 3 has 8 bit outputs"},
        {{"3.word.0=1"}, "slot 3 has 0 word outputs"},
        {{"3.bits=0x100"}, "the mask sets bits beyond them"},
        {{"3.bit.0=2"}, "'2' is no bit value"},
        {{"4.word.0=65536"}, "is no word value"},
        {{"3.bit.0"}, "expected SLOT.KIND.INDEX=VALUE"},
        {{"3.byte.0=1"}, "KIND: bit, word or dword"},
        {{"3.bit.0=1,0"}, "one value for one point"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{"io", "write", "127.0.0.2", "--all"};
        args.insert(args.end(), c.values.begin(), c.values.end());
        const ZebRun run = run_zeb(args);
        EXPECT_EQ(run.status, 2) << c.values[0];
        EXPECT_NE(run.err.find(c.says), std::string::npos) << c.values[0] << ": " << run.err;
    }
    const auto written =
        rack([](racksim::Rack& r) { return r.module(0).counters.by_function[0x06]; });
    EXPECT_EQ(written, 0u) << "nothing was written";
}

TEST_F(Io, WatchWithJsonPrintsOneObjectALine) {
    const ZebRun run =
        run_zeb({"io", "watch", "127.0.0.2", "--count", "2", "--interval", "20", "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<json> lines;
    for (size_t start = 0; start < run.out.size();) {
        const size_t end = run.out.find('\n', start);
        lines.push_back(json::parse(run.out.substr(start, end - start)));
        start = end + 1;
    }
    ASSERT_EQ(lines.size(), 2u) << run.out;
    EXPECT_EQ(lines[1]["read"], 2);
    EXPECT_EQ(slot_of(lines[1]["inputs"], 0)["bits"][0], 1);
    EXPECT_EQ(slot_of(lines[1]["inputs"], 4)["words"][1], 1200);
}

TEST_F(Io, WatchWritesPlainLinesWhenNotOnATerminal) {
    const ZebRun run = run_zeb({"io", "watch", "127.0.0.2", "--count", "3", "--interval", "20"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.find('\x1b'), std::string::npos) << "no terminal escapes";
    std::vector<std::string> word_lines;
    std::vector<std::string> lines;
    for (size_t start = 0; start < run.out.size();) {
        const size_t end = run.out.find('\n', start);
        lines.push_back(run.out.substr(start, end - start));
        start = end + 1;
    }
    ASSERT_EQ(lines.size(), 3u * 6u) << run.out;  // six rows a read
    for (const std::string& line : lines) {
        EXPECT_EQ(line[0], '+') << line;  // "+1.234s  slot 4  word  ..."
        if (line.find("  slot 4  word  ") != std::string::npos) word_lines.push_back(line);
    }
    ASSERT_EQ(word_lines.size(), 3u);
    // The counter in word 0 changes on every read: marked from the second read on, and the
    // words that stay are not.
    EXPECT_EQ(word_lines[0].find('*'), std::string::npos) << word_lines[0];
    EXPECT_NE(word_lines[1].find("* 1200 2400 3600"), std::string::npos) << word_lines[1];
    EXPECT_NE(word_lines[2].find("* 1200 2400 3600"), std::string::npos) << word_lines[2];
}

TEST_F(Io, WatchRedrawsInPlaceOnATerminal) {
    int terminal = -1;
    const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        execl(ZEB_PATH, ZEB_PATH, "io", "watch", "127.0.0.2", "--count", "2", "--interval", "20",
              "--local", "127.0.0.1", static_cast<char*>(nullptr));
        _exit(127);
    }
    std::string screen;
    char buf[4096];
    for (ssize_t n; (n = read(terminal, buf, sizeof buf)) > 0;) screen.append(buf, size_t(n));
    close(terminal);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << screen;
    // The second frame goes back over the first (header, blank line, table of seven lines) and
    // shows the counted word in reverse video.
    const size_t back = screen.find("\x1b[9F");
    ASSERT_NE(back, std::string::npos) << screen;
    EXPECT_NE(screen.find("127.0.0.2  read 2 every 20 ms"), std::string::npos) << screen;
    EXPECT_EQ(screen.find("\x1b[7m"), screen.find("\x1b[7m", back)) << "nothing marked at first";
    EXPECT_NE(screen.find("\x1b[7m", back), std::string::npos) << screen;
}

// Every frame goes back over as many lines as the frame before it drew: a failed read or a
// short terminal leaves no copy behind.
TEST_F(Io, WatchFramesStayInPlaceWhenReadsFailOrTheTerminalIsShort) {
    int terminal = -1;
    winsize size{};
    size.ws_row = 6;
    size.ws_col = 80;
    const pid_t pid = forkpty(&terminal, nullptr, nullptr, &size);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        execl(ZEB_PATH, ZEB_PATH, "io", "watch", "127.0.0.2", "--count", "6", "--interval", "100",
              "--local", "127.0.0.1", "--timeout", "50", "--retries", "0",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    std::string screen;
    char buf[4096];
    bool stopped = false;
    for (ssize_t n; (n = read(terminal, buf, sizeof buf)) > 0;) {
        screen.append(buf, size_t(n));
        // Once the second frame is there, nothing answers any more.
        if (!stopped && screen.find("read 2 every") != std::string::npos) {
            stop_server();
            stopped = true;
        }
    }
    close(terminal);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3) << screen;
    EXPECT_NE(screen.find("no reply: nothing answers at 127.0.0.2 (connection refused)"),
              std::string::npos)
        << screen;
    EXPECT_NE(screen.find("more rows hidden"), std::string::npos) << screen;
    // Frames start with wrapping turned off; each after the first moves up over the last.
    std::vector<std::string> frames;
    for (size_t at = screen.find("\x1b[?7l"); at != std::string::npos;) {
        const size_t next = screen.find("\x1b[?7l", at + 1);
        frames.push_back(screen.substr(at, next == std::string::npos ? next : next - at));
        at = next;
    }
    ASSERT_EQ(frames.size(), 6u) << screen;
    for (size_t i = 1; i < frames.size(); ++i) {
        const auto lines = std::count(frames[i - 1].begin(), frames[i - 1].end(), '\n');
        EXPECT_LE(lines, 5) << "frame " << i - 1 << " is taller than the terminal";
        EXPECT_EQ(frames[i].find("\x1b[?7l\x1b[" + std::to_string(lines) + "F"), 0u)
            << "frame " << i;
    }
}

TEST_F(Io, WatchEndsCleanlyOnCtrlC) {
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        execl(ZEB_PATH, ZEB_PATH, "io", "watch", "127.0.0.2", "--interval", "50", "--local",
              "127.0.0.1", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    // Its first read is printed once it catches Ctrl-C; then it is sent.
    pollfd first{out[0], POLLIN, 0};
    ASSERT_EQ(poll(&first, 1, 20000), 1) << "no first read";
    kill(pid, SIGINT);
    char buf[4096];
    while (read(out[0], buf, sizeof buf) > 0) {
    }
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by the signal, not by itself";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace zebtest
