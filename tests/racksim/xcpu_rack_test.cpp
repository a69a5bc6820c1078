// Controller modules in rack descriptions and on the command line, and the faults they play
// like any other module.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "builtin_rack.h"
#include "options.h"
#include "xcpu_util.h"

namespace racksim {
namespace {

using namespace test;
using zebtest::TempFolder;
using zebtest::write_file;

std::string rack_with_root(const std::string& root) {
    return R"({"modules": [{"name": "cpu", "controller_root": ")" + root +
           R"("}, {"name": "io"}]})";
}

TEST(XcpuRack, TheRootIsTakenRelativeToTheRackFile) {
    TempFolder dir;
    std::filesystem::create_directory(dir.at("files"));
    write_file(dir.at("rack.json"), rack_with_root("files"));
    std::string error;
    std::optional<Rack> rack = Rack::load(dir.at("rack.json"), &error);
    ASSERT_TRUE(rack) << error;
    EXPECT_EQ(rack->module(0).controller_os.root, dir.at("files"));
    EXPECT_FALSE(rack->module(1).controller_os.enabled());
    // Parsed from text, it is taken from the folder given, else the current one.
    rack = Rack::parse(rack_with_root("files"), &error, dir.path());
    ASSERT_TRUE(rack) << error;
    EXPECT_EQ(rack->module(0).controller_os.root, dir.at("files"));
    rack = Rack::parse(rack_with_root(dir.at("files")), &error);
    ASSERT_TRUE(rack) << error;
    EXPECT_EQ(rack->module(0).controller_os.root, dir.at("files"));
}

TEST(XcpuRack, AMissingRootIsMadeAtStartUpAndAFileIsRefused) {
    TempFolder dir;
    write_file(dir.at("file"), "x");
    std::string error;
    std::optional<Rack> rack = Rack::parse(rack_with_root("missing"), &error, dir.path());
    ASSERT_TRUE(rack) << error;
    std::vector<std::string> made;
    ASSERT_TRUE(make_controller_roots(*rack, &made, &error)) << error;
    EXPECT_EQ(made, std::vector<std::string>{dir.at("missing")});
    EXPECT_TRUE(std::filesystem::is_directory(dir.at("missing")));
    made.clear();
    ASSERT_TRUE(make_controller_roots(*rack, &made, &error));
    EXPECT_TRUE(made.empty());
    rack = Rack::parse(rack_with_root("no/deeper"), &error, dir.path());
    ASSERT_TRUE(rack) << error;
    EXPECT_FALSE(make_controller_roots(*rack, &made, &error));

    EXPECT_FALSE(Rack::parse(rack_with_root("file"), &error, dir.path()));
    EXPECT_EQ(error, "modules[0].controller_root: " + dir.at("file") + " is no folder");
    EXPECT_FALSE(Rack::parse(rack_with_root(""), &error, dir.path()));
    EXPECT_EQ(error, "modules[0].controller_root: expected a folder name");
    EXPECT_FALSE(Rack::parse(R"({"modules": [{"controller_root": 5}]})", &error));
}

TEST(XcpuRack, TheSampleRackHasAControllerModuleOnAFolderBesideIt) {
    std::string error;
    std::optional<Rack> rack = Rack::load(RACKSIM_SAMPLE_RACK, &error);
    ASSERT_TRUE(rack) << error;
    const Module* cpu = nullptr;
    for (const Module& m : rack->modules()) {
        if (m.controller_os.enabled()) cpu = &m;
    }
    ASSERT_NE(cpu, nullptr);
    EXPECT_TRUE(std::filesystem::is_directory(cpu->controller_os.root));
}

TEST(XcpuRack, TheCommandLineRootReplacesTheDescribedOnesOrMakesTheBuiltInModuleOne) {
    std::string error;
    std::optional<Options> o = parse_options({"--controller-root", "/x"}, &error);
    ASSERT_TRUE(o) << error;
    EXPECT_EQ(o->controller_root, "/x");
    EXPECT_FALSE(parse_options({"--controller-root="}, &error));
    EXPECT_FALSE(parse_options({"--controller-root"}, &error));

    TempFolder a, b;
    Rack builtin = *Rack::parse(kBuiltinRack, &error);
    ASSERT_TRUE(apply_controller_root(builtin, b.path(), true, &error));
    EXPECT_EQ(builtin.module(0).controller_os.root, b.path());

    Rack described = *Rack::parse(rack_with_root(a.path()), &error);
    ASSERT_TRUE(apply_controller_root(described, b.path(), false, &error));
    EXPECT_EQ(described.module(0).controller_os.root, b.path());
    EXPECT_FALSE(described.module(1).controller_os.enabled());
    EXPECT_FALSE(apply_controller_root(described, b.at("none"), false, &error));
    EXPECT_EQ(error, "--controller-root: no folder " + b.at("none"));
}

TEST(XcpuRack, FaultsApplyToServiceCallsLikeToAnyRequest) {
    TempFolder root;
    Rack rack = controller_rack(root.path());
    Faults lose_one;
    lose_one.drop_first = 1;
    rack.module(0).faults_by_function[0x35] = lose_one;
    const Bytes mkdir = service(svc::kCreateDirectory, Args().path("d").zeros(12).b);
    EXPECT_TRUE(ask(rack, kModuleA, mkdir).empty());
    EXPECT_FALSE(zebtest::exists(root.at("d")));  // lost before the module read it
    EXPECT_EQ(ask_one(rack, kModuleA, mkdir).payload, (Bytes{0, 0, 1, 0, 0, 0}));
    EXPECT_TRUE(zebtest::exists(root.at("d")));
    // Other codes of the module are not affected.
    EXPECT_EQ(ask(rack, kModuleA, {0xF9, 0x06, 1, 0, 0, 0}).size(), 1u);

    // A doubled reply is one call carried out once, answered twice.
    rack.module(0).faults_by_function[0x35].answer_twice = true;
    const std::vector<Reply> twice =
        ask(rack, kModuleA, service(svc::kCreateDirectory, Args().path("e").zeros(12).b));
    ASSERT_EQ(twice.size(), 2u);
    EXPECT_EQ(twice[0].payload, twice[1].payload);
    EXPECT_EQ(decode_service(twice[0]).value, 1u);
    EXPECT_EQ(rack.module(0).counters.by_function[0x35], 2u);
}

}  // namespace
}  // namespace racksim
