// RackSim's request handling: a run of request datagrams, raw or framed as a host frames them,
// played against the sample rack (a remote master, a controller, memory, shared RAM, serial
// ports, a networked node), each in a manner the input picks. Every reply must be a whole frame
// from a module of the rack, its CRC right or 0, and no file name a handler uses may leave the
// module's file root. RackSim reads the output streams and base definitions that hosts write
// with the library's item reader, so this target drives that reader from the module's side
// (regressions/racksim holds the reading rules' edge cases) as the walkers target does from
// the host's.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "context.h"
#include "core/crc16.h"
#include "frame.h"
#include "fuzz_input.h"
#include "rack.h"
#include "racksim_manners.h"

namespace {

[[noreturn]] void broken(const std::string& what) {
    std::fprintf(stderr, "racksim: %s\n", what.c_str());
    std::abort();
}

// The file store of a controller module, which refuses to be handed a name that resolves
// outside its root.
class RootedStore final : public racksim::FileStore {
  public:
    bool read(const std::string& name, racksim::Bytes* contents) const override {
        check(name);
        return files_.read(name, contents);
    }
    void write(const std::string& name, racksim::Bytes contents) override {
        check(name);
        files_.write(name, std::move(contents));
    }
    bool remove(const std::string& name) override {
        check(name);
        return files_.remove(name);
    }
    std::vector<std::string> names() const override { return files_.names(); }

  private:
    static void check(const std::string& name) {
        const std::filesystem::path root = "/fuzz-root";
        const std::string resolved = (root / name).lexically_normal().string();
        if (resolved.rfind("/fuzz-root/", 0) != 0 || name.find('\0') != std::string::npos) {
            broken("file name outside the root: " + name);
        }
    }
    racksim::MemoryStore files_;
};

// A clock that moves 7 ms with every request, so that runs replay exactly.
class StepClock final : public racksim::Clock {
  public:
    uint64_t now_ms() const override { return now += 7; }
    mutable uint64_t now = 1'000'000;
};

const racksim::Rack& sample_rack() {
    static const racksim::Rack rack = [] {
        std::string error;
        std::optional<racksim::Rack> r = racksim::Rack::load(RACKSIM_SAMPLE_RACK, &error);
        if (!r) broken("sample rack: " + error);
        return std::move(*r);
    }();
    return rack;
}

void check_reply(const racksim::Rack& rack, const racksim::Outgoing& o) {
    const racksim::Bytes& b = o.bytes;
    if (b.size() < racksim::kHeaderSize || b[0] != 'Z' || b[1] != 'Q' || b[2] != 'K') {
        broken("reply is no frame");
    }
    const size_t length = size_t(b[7] | b[8] << 8);
    if (length != b.size() - racksim::kHeaderSize) broken("reply length field disagrees");
    const uint16_t crc = uint16_t(b[5] | b[6] << 8);
    if (crc != 0 && crc != zeb::crc16(b.data() + 9, length)) broken("reply CRC wrong");
    bool known = false;
    for (const racksim::Module& m : rack.modules()) known = known || m.identity.ip == o.from_ip;
    if (!known) broken("reply from an address no module has");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zebfuzz::FuzzInput in(data, size);
    racksim::Rack rack = sample_rack();
    rack.set_files(std::make_shared<RootedStore>());
    rack.set_clock(std::make_shared<StepClock>());
    const size_t modules = rack.modules().size();
    while (!in.used_up()) {
        const uint32_t target = in.number(uint32_t(modules), 0);
        const uint32_t to =
            target < modules ? rack.module(target).identity.ip : racksim::kBroadcastIp;
        const bool framed = in.flag(true);
        const auto sequence = static_cast<uint16_t>(in.number(0xFFFF, 1));
        const zebfuzz::Bytes body = in.bytes(1600, {});
        const racksim::Bytes datagram =
            framed && !body.empty() ? racksim::make_request(sequence, body, true) : body;
        zebfuzz::serve_in_manner(rack, in.number(zebfuzz::manner_choice_max(), 0));
        for (const racksim::Outgoing& o : rack.handle(to, datagram.data(), datagram.size())) {
            check_reply(rack, o);
        }
    }
    return 0;
}
