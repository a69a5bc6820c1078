// ZEBResultText: names and sentences for every result, and the cut-to-fit buffer rules.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "zeb.h"

namespace {

std::string text_of(uint32_t result) {
    const uint32_t needed = ZEBResultText(result, nullptr, 0);
    std::string text(needed + 1, '#');
    EXPECT_EQ(ZEBResultText(result, text.data(), needed + 1), needed);
    EXPECT_EQ(text[needed], '\0');
    text.resize(needed);
    EXPECT_EQ(std::strlen(text.c_str()), needed) << "no terminator inside the text";
    return text;
}

struct Named {
    uint32_t code;
    const char* name;
};

const Named kLibraryCodes[] = {
    {ZEBWARN_RETRIED, "ZEBWARN_RETRIED"},
    {ZEBERR_BAD_VERSION, "ZEBERR_BAD_VERSION"},
    {ZEBERR_BAD_TRANSPORT, "ZEBERR_BAD_TRANSPORT"},
    {ZEBERR_BAD_DEVICE, "ZEBERR_BAD_DEVICE"},
    {ZEBERR_BUFFER_TOO_SMALL, "ZEBERR_BUFFER_TOO_SMALL"},
    {ZEBERR_NO_DATA, "ZEBERR_NO_DATA"},
    {ZEBERR_TIMEOUT, "ZEBERR_TIMEOUT"},
    {ZEBERR_BAD_PROTOCOL, "ZEBERR_BAD_PROTOCOL"},
    {ZEBERR_NEEDS_BROADCAST, "ZEBERR_NEEDS_BROADCAST"},
    {ZEBERR_NULL_TRANSPORT, "ZEBERR_NULL_TRANSPORT"},
    {ZEBERR_BAD_CRC, "ZEBERR_BAD_CRC"},
    {ZEBERR_BAD_PARAMETER, "ZEBERR_BAD_PARAMETER"},
    {ZEBERR_NO_PACKET, "ZEBERR_NO_PACKET"},
    {ZEBERR_MISMATCHED_REPLY, "ZEBERR_MISMATCHED_REPLY"},
    {ZEBERR_PACKET_TOO_LARGE, "ZEBERR_PACKET_TOO_LARGE"},
};

TEST(ResultText, EveryLibraryCodeByNameWithASentence) {
    EXPECT_EQ(text_of(0), "success");
    for (const Named& c : kLibraryCodes) {
        const std::string text = text_of(c.code);
        EXPECT_EQ(text.rfind(std::string(c.name) + ": ", 0), 0u) << text;
        EXPECT_GT(text.size(), std::strlen(c.name) + 10) << text;
    }
    EXPECT_EQ(text_of(ZEBERR_TIMEOUT), "ZEBERR_TIMEOUT: no reply, after every re-send");
}

TEST(ResultText, WinsockAndWindowsNumbersByName) {
    EXPECT_EQ(text_of(10061), "WSAECONNREFUSED (Winsock error 10061): the connection was refused");
    EXPECT_EQ(text_of(10047).rfind("WSAEAFNOSUPPORT (Winsock error 10047): ", 0), 0u);
    EXPECT_EQ(text_of(10107).rfind("WSASYSCALLFAILURE", 0), 0u);
    EXPECT_EQ(text_of(11001).rfind("WSAHOST_NOT_FOUND", 0), 0u);
    EXPECT_EQ(text_of(10500), "Winsock error 10500");  // in the range, without a name
    // Every Winsock number the platform layer produces has a name.
    for (uint32_t n = 10004; n <= 10071; ++n) {
        const std::string text = text_of(n);
        if (text.rfind("WSA", 0) != 0) {
            EXPECT_EQ(text, "Winsock error " + std::to_string(n));
        }
    }
    // A small number is a Windows error or a status word sign-extended; both are said.
    EXPECT_EQ(text_of(109),
              "ERROR_BROKEN_PIPE (Windows error 109): the data stopped short (a serial reply cut "
              "off); or module status 0x006D: the module reported an error");
    for (uint32_t n : {1u, 2u, 3u, 5u, 8u, 31u, 32u, 87u, 112u, 206u, 1117u, 1223u, 1460u}) {
        EXPECT_EQ(text_of(n).rfind("ERROR_", 0), 0u) << n;
    }
}

TEST(ResultText, ModuleStatusWordsByClass) {
    // Sign-extended refusals (bit 15 set in the word).
    EXPECT_EQ(text_of(0xFFFF8101u), "module status 0x8101: the module refused the request");
    EXPECT_EQ(text_of(0xFFFFFFFFu), "module status 0xFFFF: the module refused the request");
    // A positive word with no Windows name.
    EXPECT_EQ(text_of(0x0081u),
              "module status 0x0081: the module reported an error (or Windows error 129)");
    // Low 12 bits clear, and 0x0086: the data came with the word.
    EXPECT_EQ(text_of(0x0086u),
              "module status 0x0086: a notice from the module; its data came with it "
              "(or Windows error 134)");
    EXPECT_EQ(text_of(0x1000u).rfind("module status 0x1000: a notice from the module", 0), 0u);
    // An I/O or configuration reply's word, with bit 15 added by the conversion.
    EXPECT_EQ(text_of(0x8081u),
              "module status 0x0081: the module reported an error (I/O or configuration reply)");
    // No rule makes these.
    EXPECT_EQ(text_of(0x8000u), "unknown result 0x00008000");
    EXPECT_EQ(text_of(0x00012345u), "unknown result 0x00012345");
}

TEST(ResultText, BuffersOfSizeZeroOneAndExactlyTheLength) {
    for (uint32_t code : {0u, ZEBERR_TIMEOUT, 10061u, 109u, 0xFFFF8101u, 0x00012345u}) {
        const std::string whole = text_of(code);
        const auto n = static_cast<uint32_t>(whole.size());

        char guard[4] = {'a', 'b', 'c', 'd'};
        EXPECT_EQ(ZEBResultText(code, guard, 0), n);
        EXPECT_EQ(std::string(guard, 4), "abcd") << "size 0 writes nothing";

        EXPECT_EQ(ZEBResultText(code, guard, 1), n);
        EXPECT_EQ(guard[0], '\0');
        EXPECT_EQ(guard[1], 'b') << "nothing written past the buffer";

        std::vector<char> exact(n + 1, '#');
        EXPECT_EQ(ZEBResultText(code, exact.data(), n), n);
        EXPECT_EQ(std::string(exact.data()), whole.substr(0, n - 1)) << "cut by one character";
        EXPECT_EQ(exact[n], '#');
    }
    // A null buffer is taken as no room, whatever the size says.
    EXPECT_EQ(ZEBResultText(0, nullptr, 100), 7u);
}

TEST(ResultText, ThreadsShareNothing) {
    const std::string timeout = text_of(ZEBERR_TIMEOUT);
    const std::string refused = text_of(0xFFFF8101u);
    std::vector<std::thread> threads;
    std::vector<int> mismatches(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            const uint32_t code = t % 2 ? ZEBERR_TIMEOUT : 0xFFFF8101u;
            const std::string& want = t % 2 ? timeout : refused;
            char buffer[128];
            for (int i = 0; i < 2000; ++i) {
                ZEBResultText(code, buffer, sizeof buffer);
                if (want != buffer) ++mismatches[t];
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

}  // namespace

namespace zebtest {
namespace {

// The success test takes a call as its argument and makes it once.
TEST(ResultTest, SucceededMakesTheCallItIsGivenOnce) {
    int calls = 0;
    const auto call = [&calls](uint32_t result) {
        ++calls;
        return result;
    };
    const uint32_t results[] = {0, ZEBWARN_RETRIED, ZEBERR_TIMEOUT, 10054};
    const bool succeeded[] = {true, true, false, false};
    for (size_t i = 0; i < 4; ++i) {
        calls = 0;
        EXPECT_EQ(bool(ZEB_SUCCEEDED(call(results[i]))), succeeded[i]) << results[i];
        EXPECT_EQ(calls, 1);
    }
}

}  // namespace
}  // namespace zebtest
