// RackSim's HTTP API against the program serving the sample rack, with the library on the
// module side: what is changed over HTTP is what a host reads, what a host writes shows over
// HTTP, and every bad request is refused with nothing changed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <thread>

#include "racksim_run.h"
#include "temp_folder.h"
#include "zeb.h"
#include "zeb_points.h"

namespace zebtest {
namespace {

using json = nlohmann::json;

constexpr uint32_t kPress = 0x7F000002;  // press-line, 127.0.0.2
const httplib::Headers kNoHeaders;

void set_ip_address(uint8_t* out, uint32_t ip, uint16_t port) {
    std::memset(out, 0, 16);
    out[0] = 2;
    out[2] = static_cast<uint8_t>(port >> 8);
    out[3] = static_cast<uint8_t>(port);
    for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<uint8_t>(ip >> (24 - 8 * i));
}

json json_of(const httplib::Result& r) {
    return r ? json::parse(r->body, nullptr, false) : json();
}

class HttpApi : public ::testing::Test {
  protected:
    void SetUp() override {
        run_ = std::make_unique<RackSimRun>(
            std::vector<std::string>{"--rack", RACKSIM_SAMPLE_RACK, "--controller-root",
                                     files_.path(), "--http", "127.0.0.1:0"});
        ASSERT_GT(run_->port(), 0) << run_->output();
        http_ = run_->client();
        transport_.Kind = ZEB_TRANSPORT_WINSOCK;
        transport_.Protocol = ZEB_PROTOCOL_IP;
        set_ip_address(source_, 0x7F000001, 0);
        ASSERT_EQ(ZEBOpenTransport(&transport_, ZEB_API_VERSION, source_), 0u);
        set_ip_address(press_.Address.Raw, kPress, ZEB_MODULE_PORT);
        ASSERT_EQ(ZEBOpenDevice(&transport_, &press_, ZEB_API_VERSION, 300, 1, 0), 0u);
        ASSERT_EQ(ZEBReadImageLayout(&press_, &image_), 0u);
    }
    void TearDown() override {
        ZEBCloseDevice(&press_);
        ZEBCloseTransport(&transport_);
    }

    httplib::Result send(const std::string& method, const std::string& path,
                         const std::string& body = "", const httplib::Headers& headers = kNoHeaders,
                         const std::string& type = "application/json") {
        httplib::Request req;
        req.method = method;
        req.path = path;
        req.headers = headers;
        req.body = body;
        if (method != "GET") req.set_header("Content-Type", type);
        return http_->send(req);
    }
    json get(const std::string& path) { return json_of(http_->Get(path)); }

    // The inputs press-line answers a read with, through ZEBReadIO.
    uint32_t read_inputs() {
        uint8_t stream[1200] = {0xB1};
        uint16_t size = sizeof stream;
        const uint32_t r = ZEBReadIO(&press_, stream, &size);
        if (r == 0) {
            EXPECT_EQ(ZEBDecodeStream(&image_, stream, size), 0u);
        }
        return r;
    }
    uint32_t point(uint8_t slot, uint8_t kind, uint16_t index) {
        uint32_t v = 0xFFFFFFFF;
        EXPECT_EQ(ZEBGetPoint(&image_, slot, kind, index, &v), 0u);
        return v;
    }

    TempFolder files_;
    std::unique_ptr<RackSimRun> run_;
    std::unique_ptr<httplib::Client> http_;
    ZEBTransport transport_{};
    uint8_t source_[16] = {};
    ZEBDevice press_{};
    ZEBImage image_{};
};

TEST_F(HttpApi, InputsChangedOverHttpAreWhatTheHostReads) {
    const auto r = send("PATCH", "/api/modules/press-line/inputs", R"({"points": [
        {"slot": 0, "kind": "bit", "index": 0, "value": false},
        {"slot": 0, "kind": "bit", "index": 15, "value": 1},
        {"slot": 4, "kind": "word", "index": 2, "value": -2},
        {"slot": 6, "kind": "word", "index": 0, "value": 65535},
        {"slot": 6, "kind": "bit", "index": 3, "value": true}]})");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200) << r->body;
    ASSERT_EQ(read_inputs(), 0u);
    EXPECT_EQ(point(0, ZEB_BIT_IN, 0), 0u);
    EXPECT_EQ(point(0, ZEB_BIT_IN, 2), 1u);  // as the rack file says
    EXPECT_EQ(point(0, ZEB_BIT_IN, 15), 1u);
    EXPECT_EQ(point(4, ZEB_WORD_IN, 2), 0xFFFEu);
    EXPECT_EQ(point(6, ZEB_WORD_IN, 0), 0xFFFFu);
    EXPECT_EQ(point(6, ZEB_BIT_IN, 3), 1u);
    // By the module's address, and a 32-bit input of a slot whose inputs are its own.
    EXPECT_EQ(send("PATCH", "/api/modules/127.0.0.3/inputs",
                   R"({"points": [{"slot": 0, "kind": "word", "index": 1, "value": 7}]})")
                  ->status,
              409);
    EXPECT_EQ(get("/api/modules/0/inputs")["slots"][0]["bits"][15], 1);
}

TEST_F(HttpApi, OutputsTheHostWroteShowOverHttp) {
    EXPECT_EQ(get("/api/modules/press-line/outputs")["writes"], 0);
    ASSERT_EQ(ZEBSetPoint(&image_, 3, ZEB_BIT_OUT, 6, 1), 0u);
    ASSERT_EQ(ZEBSetPoint(&image_, 4, ZEB_WORD_OUT, 1, 4321), 0u);
    ASSERT_EQ(ZEBSetPoint(&image_, 5, ZEB_DWORD_OUT, 1, 0xDEADBEEF), 0u);
    uint8_t stream[1200];
    uint16_t size = sizeof stream;
    ASSERT_EQ(ZEBEncodeOutputs(&image_, stream, &size), 0u);
    ASSERT_EQ(ZEBWriteIO(&press_, stream, size, nullptr, nullptr), 0u);

    const json out = get("/api/modules/press-line/outputs");
    EXPECT_EQ(out["writes"], 1);
    std::map<int, json> by_slot;
    for (const json& s : out["slots"]) by_slot[s["slot"]] = s;
    EXPECT_EQ(by_slot[3]["bits"], json::parse("[0,0,0,0,0,0,1,0]"));
    EXPECT_EQ(by_slot[4]["words"], json::parse("[0,4321,0,0]"));
    EXPECT_EQ(by_slot[5]["dwords"], json::parse("[0,3735928559]"));
    // The rack's view says the same, with the write counted.
    const json m = get("/api/rack")["modules"][0];
    EXPECT_EQ(m["slots"][2]["outputs"]["bits"][6], 1);
    EXPECT_EQ(m["counters"]["output_writes"], 1);
}

TEST_F(HttpApi, FaultsSetOverHttpShowInTheLibrarysCounters) {
    struct Case {
        const char* faults;
        uint32_t result;
        uint16_t ZEBDevice::*counter;  // what the library counted
    };
    const Case cases[] = {
        {R"({"faults": {"drop_fraction": 1}})", ZEBERR_TIMEOUT, &ZEBDevice::ResendCount},
        {R"({"faults": {"corrupt_crc": true}})", ZEBERR_BAD_CRC, &ZEBDevice::CrcErrorCount},
        {R"({"faults": {"delay_ms": 0}, "faults_by_function": {"0x07": {"drop_first": 1}}})",
         ZEBWARN_RETRIED, &ZEBDevice::ResendCount},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.faults);
        const auto set = send("PUT", "/api/modules/press-line/faults", c.faults);
        ASSERT_TRUE(set);
        EXPECT_EQ(set->status, 200) << set->body;
        press_.*c.counter = 0;
        EXPECT_EQ(read_inputs(), c.result);
        EXPECT_GT(press_.*c.counter, 0);
        EXPECT_FALSE(get("/api/modules/press-line")["faults"].empty() &&
                     get("/api/modules/press-line")["faults_by_function"].empty());
        EXPECT_EQ(send("DELETE", "/api/modules/press-line/faults")->status, 200);
        EXPECT_EQ(read_inputs(), 0u);
    }
    const json counters = get("/api/modules/press-line")["counters"];
    EXPECT_EQ(counters["dropped_by_function"]["0x07"], 3);  // two sends lost, then one
}

TEST_F(HttpApi, AMannerSetOverHttpIsPlayedAndShown) {
    EXPECT_EQ(get("/api/modules/press-line")["manner"]["name"], "plain");
    const auto set = send("PUT", "/api/modules/press-line/manner", R"({"manner": "crc-never"})");
    ASSERT_TRUE(set);
    EXPECT_EQ(json_of(set)["manner"]["name"], "crc-never") << set->body;
    // The module sent this host CRCs before: a reply without one is damage to it.
    EXPECT_EQ(read_inputs(), ZEBERR_BAD_CRC);
    EXPECT_EQ(send("DELETE", "/api/modules/press-line/manner")->status, 200);
    EXPECT_EQ(get("/api/modules/press-line")["manner"]["name"], "plain");
}

TEST_F(HttpApi, BadRequestsAreRefusedWithTheirReasonAndChangeNothing) {
    const json before = get("/api/rack")["modules"];
    const std::string big(70000, ' ');
    auto points = [](const std::string& list) { return R"({"points": [)" + list + "]}"; };
    const std::string inputs = "/api/modules/press-line/inputs";
    const std::string good = R"({"slot": 0, "kind": "bit", "index": 1, "value": 1})";
    struct Case {
        std::string method, path, body;
        int status;
        std::string says;
        httplib::Headers headers = {};
        std::string type = "application/json";
    };
    const std::vector<Case> cases = {
        {"PATCH", "/api/modules/nobody/inputs", points(good), 404, "no module \"nobody\""},
        {"PATCH", "/api/modules/3/inputs", points(good), 404, "the rack has 3 (0 to 2)"},
        {"PATCH", "/api/modules/127.0.0.9/inputs", points(good), 404, "no module"},
        {"PATCH", inputs, points(R"({"slot": 2, "kind": "bit", "index": 0, "value": 1})"), 400,
         "points[0]: the module has no slot 2"},
        {"PATCH", inputs, points(R"({"slot": 0, "kind": "bit", "index": 16, "value": 1})"), 400,
         "slot 0 has 16 bit inputs (0 to 15)"},
        {"PATCH", inputs, points(R"({"slot": 3, "kind": "bit", "index": 0, "value": 1})"), 400,
         "slot 3 has no bit inputs"},
        {"PATCH", inputs, points(R"({"slot": 4, "kind": "dword", "index": 0, "value": 1})"), 400,
         "slot 4 has no 32-bit inputs"},
        // A change that fits after one that does not: neither is made.
        {"PATCH", inputs, points(good + R"(, {"slot": 0, "kind": "bit", "index": 99, "value": 1})"),
         400, "points[1]"},
        {"PATCH", inputs, points(R"({"slot": 1, "kind": "bit", "index": 0, "value": 1})"), 409,
         "mirrors slot 3's outputs"},
        {"PATCH", inputs, points(R"({"slot": 0, "kind": "bit", "index": 0, "value": 2})"), 400,
         "does not fit a bit"},
        {"PATCH", inputs, points(R"({"slot": 4, "kind": "word", "index": 1, "value": 65536})"), 400,
         "65536 does not fit a word input"},
        {"PATCH", inputs, points(R"({"slot": 4, "kind": "word", "index": 1, "value": -32769})"),
         400, "does not fit a word input"},
        {"PATCH", inputs, points(R"({"slot": 4, "kind": "word", "index": 1, "value": 1.5})"), 400,
         "1.5 is no whole number"},
        {"PATCH", inputs, points(R"({"slot": 4, "kind": "word", "index": 1, "value": "7"})"), 400,
         "is no whole number"},
        {"PATCH", "/api/modules/packer/inputs",
         points(R"({"slot": 0, "kind": "dword", "index": 0, "value": 4294967296})"), 400,
         "does not fit a 32-bit input"},
        {"PATCH", inputs, points(R"({"slot": 4, "kind": "real", "index": 1, "value": 1})"), 400,
         "points[0].kind: expected \"bit\", \"word\" or \"dword\""},
        {"PATCH", inputs, points(R"({"slot": 4, "kind": "word", "index": 1})"), 400,
         "missing \"value\""},
        {"PATCH", inputs, points(R"({"slot": -1, "kind": "word", "index": 1, "value": 1})"), 400,
         "points[0].slot"},
        {"PATCH", inputs, points(""), 400, "no points"},
        {"PATCH", inputs, R"({"points": [)", 400, "malformed JSON"},
        {"PATCH", inputs, std::string(60000, '['), 400, "malformed JSON"},
        {"PATCH", inputs, R"([1, 2])", 400, "expected an object"},
        {"PATCH", inputs, "", 400, "needs a JSON body"},
        {"PATCH", inputs, big, 413, "over 65536 bytes"},
        {"PATCH", inputs, points(good), 415, "application/json", {}, "text/plain"},
        {"PATCH", inputs, points(good), 403, "another origin", {{"Origin", "http://evil.example"}}},
        {"GET", "/api/rack", "", 403, "loopback names only", {{"Host", "evil.example"}}},
        {"PUT", "/api/modules/press-line/faults", R"({"faults": {"drop_fraction": 2}})", 400,
         "faults.drop_fraction: must be a number from 0 to 1"},
        {"PUT", "/api/modules/press-line/faults", R"({"faults": {"explode": true}})", 400,
         "faults: unknown key \"explode\""},
        {"PUT", "/api/modules/press-line/faults", R"({"fautls": {}})", 400,
         "unknown key \"fautls\""},
        {"PUT", "/api/modules/press-line/faults",
         R"({"faults_by_function": {"0x100": {"drop_first": 1}}})", 400,
         "\"0x100\" is not a function code"},
        {"PUT", "/api/modules/press-line/manner", R"({"manner": "rude"})", 400,
         "unknown manner \"rude\""},
        {"PUT", "/api/modules/press-line/manner", R"({"manner": {"ack": "never"}})", 400,
         "manner.ack: expected one of"},
        {"PUT", "/api/modules/press-line/outputs", points(good), 405, "takes GET"},
        {"DELETE", "/api/rack", "", 405, "takes GET"},
        {"GET", "/api/modules/press-line/coils", "", 404, "no resource"},
        {"GET", "/api/modules/press-line/files", "", 409, "no controller module"},
        {"GET", "/api/modules/packer/file?path=..%2Fsecret", "", 403, "leads outside"},
        {"GET", "/api/modules/packer/file?path=missing.txt", "", 404, "no such file"},
        {"GET", "/api/modules/packer/file?path=C:%5Cboot.ini", "", 404, "no such file"},
        {"GET", "/api/modules/packer/files?path=a%3Cb", "", 400, "no path a module takes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.method + " " + c.path + " " + c.body.substr(0, 120));
        const auto r = send(c.method, c.path, c.body, c.headers, c.type);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, c.status);
        const json reply = json_of(r);
        ASSERT_TRUE(reply.contains("error")) << r->body;
        EXPECT_NE(reply["error"].get<std::string>().find(c.says), std::string::npos)
            << reply["error"];
    }
    EXPECT_EQ(get("/api/rack")["modules"], before);
}

TEST_F(HttpApi, TheRequestLogStreamsWhileWatchedAndStopsAfterward) {
    EXPECT_EQ(get("/api/rack")["request_log"], "off");
    std::atomic<bool> seen{false};
    std::thread watcher([&] {
        const auto c = run_->client();
        std::string text;
        c->Get("/api/log", [&](const char* data, size_t n) {
            text.append(data, n);
            seen = text.find("data: 127.0.0.1:") != std::string::npos &&
                   text.find("press-line") != std::string::npos;
            return !seen;  // ends the stream
        });
    });
    for (int i = 0; i < 400 && get("/api/rack")["request_log"] != "on"; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    for (int i = 0; i < 100 && !seen; ++i) {
        EXPECT_EQ(read_inputs(), 0u);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    watcher.join();
    EXPECT_TRUE(seen);
    // Once its client has gone, the stream finds out at its next pulse and log text is built no
    // longer.
    json server;
    for (int i = 0; i < 400; ++i) {
        server = get("/api/rack");
        if (server["request_log"] == "off") break;
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    EXPECT_EQ(server["request_log"], "off");
    EXPECT_EQ(server["server"]["log_watchers"], 0);
}

TEST_F(HttpApi, AControllerModulesFilesAreListedAndReadInsideItsFolderOnly) {
    std::filesystem::create_directory(files_.at("recipes"));
    std::ofstream(files_.at("recipes/bread.txt")) << "flour,water";
    std::filesystem::create_symlink("/etc/passwd", files_.at("recipes/link"));
    const json list = get("/api/modules/packer/files?path=recipes");
    ASSERT_EQ(list["entries"].size(), 1u) << list;  // the link is not shown
    EXPECT_EQ(list["entries"][0]["name"], "bread.txt");
    EXPECT_EQ(list["entries"][0]["size"], 11);
    EXPECT_EQ(get("/api/modules/packer/files")["entries"][0]["folder"], true);
    const auto file = http_->Get("/api/modules/packer/file?path=%5Crecipes%5Cbread.txt");
    ASSERT_TRUE(file);
    EXPECT_EQ(file->status, 200);
    EXPECT_EQ(file->body, "flour,water");
    EXPECT_EQ(http_->Get("/api/modules/packer/file?path=recipes/link")->status, 403);
    EXPECT_EQ(http_->Get("/api/modules/packer/file?path=recipes")->status, 404);
}

TEST(HttpAccess, ATokenGuardsEveryApiRequestAndARefusalSaysWhy) {
    const std::string token = "a-token-of-twenty-chars";
    RackSimRun run({"--http", "127.0.0.1:0", "--http-token", token});
    ASSERT_GT(run.port(), 0) << run.output();
    const auto none = run.client()->Get("/api/rack");
    ASSERT_TRUE(none);
    EXPECT_EQ(none->status, 401);
    EXPECT_NE(none->body.find("Authorization: Bearer TOKEN"), std::string::npos) << none->body;
    EXPECT_EQ(none->get_header_value("WWW-Authenticate"), "Bearer realm=\"RackSim\"");
    const auto wrong = run.client(token + "x")->Get("/api/rack");
    EXPECT_EQ(wrong->status, 401);
    EXPECT_NE(wrong->body.find("not the one given"), std::string::npos);
    EXPECT_EQ(run.client(token)->Get("/api/rack")->status, 200);
    // The page holds nothing of the rack: it loads, then asks for the token.
    EXPECT_EQ(run.client()->Get("/")->status, 200);

    // A second RackSim on the same HTTP port says why it cannot serve.
    RackSimRun second({"--port", "28799", "--http", "127.0.0.1:" + std::to_string(run.port())});
    EXPECT_EQ(second.exit_code(), 1);
    EXPECT_NE(second.output().find("cannot listen on 127.0.0.1:" + std::to_string(run.port()) +
                                   ": the port is in use"),
              std::string::npos)
        << second.output();
}

}  // namespace
}  // namespace zebtest
