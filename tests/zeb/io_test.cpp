// zeb io read, write and watch against the sample rack's press-line (127.0.0.2): slot 1's bit
// inputs mirror slot 3's bit outputs, slot 5's 32-bit inputs its own outputs, and slot 4's
// word input 0 counts the reads.
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "zeb_fixture.h"

namespace zebtest {
namespace {

using nlohmann::json;

class Io : public ZebTest {};

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

TEST_F(Io, WriteSetsTheNamedOutputs) {
    const ZebRun write =
        run_zeb({"io", "write", "127.0.0.2", "3.bit.0=1", "3.bit.2=1", "5.dword=7,-1"});
    ASSERT_EQ(write.status, 0) << write.err;
    EXPECT_EQ(write.out, "");
    const json inputs = json_of(run_zeb({"io", "read", "127.0.0.2", "--json"}));
    EXPECT_EQ(slot_of(inputs, 1)["bits"], json({1, 0, 1, 0, 0, 0, 0, 0}));
    EXPECT_EQ(slot_of(inputs, 5)["dwords"], json({7, 4294967295u}));

    // Bits travel in whole bytes: the byte of the highest bit named is written whole.
    ASSERT_EQ(run_zeb({"io", "write", "127.0.0.2", "3.b.1=1"}).status, 0);
    EXPECT_EQ(slot_of(json_of(run_zeb({"io", "read", "127.0.0.2", "--json"})), 1)["bits"],
              json({0, 1, 0, 0, 0, 0, 0, 0}));
    auto words = [&] {
        return rack([](racksim::Rack& r) { return r.module(0).slot(4).io.word_out; });
    };
    EXPECT_EQ(words(), std::vector<uint16_t>(4, 0)) << "kinds not named are not written";
    // Points after the highest one named are not written; those below it are, as 0.
    ASSERT_EQ(run_zeb({"io", "write", "127.0.0.2", "4.word=1,2,3,4"}).status, 0);
    ASSERT_EQ(run_zeb({"io", "write", "127.0.0.2", "4.w.1=9"}).status, 0);
    EXPECT_EQ(words(), (std::vector<uint16_t>{0, 9, 3, 4}));
}

TEST_F(Io, WriteRefusesWhatTheBaseDoesNotHold) {
    struct Case {
        std::vector<std::string> values;
        const char* says;
    };
    const Case cases[] = {
        {{"2.bit.0=1"}, "slot 2 holds no module"},
        {{"3.bit.8=1"}, "slot 3 has 8 bit outputs"},
        {{"3.word.0=1"}, "slot 3 has 0 word outputs"},
        {{"3.bit.0=2"}, "'2' is no bit value"},
        {{"4.word.0=65536"}, "is no word value"},
        {{"3.bit.0"}, "expected SLOT.KIND.INDEX=VALUE"},
        {{"3.byte.0=1"}, "KIND: bit, word or dword"},
        {{"3.bit.0=1,0"}, "one value for one point"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{"io", "write", "127.0.0.2"};
        args.insert(args.end(), c.values.begin(), c.values.end());
        const ZebRun run = run_zeb(args);
        EXPECT_EQ(run.status, 2) << c.values[0];
        EXPECT_NE(run.err.find(c.says), std::string::npos) << c.values[0] << ": " << run.err;
    }
    const auto written =
        rack([](racksim::Rack& r) { return r.module(0).counters.by_function[0x06]; });
    EXPECT_EQ(written, 0u) << "nothing was written";
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
