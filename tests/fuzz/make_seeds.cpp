// Writes the seed corpus from real exchanges with RackSim: each library operation is run once
// against a RackSim module, and what went over the wire becomes a seed of each target. The
// reply target gets the call with RackSim's replies, the RackSim target the requests (and runs
// of requests in each of RackSim's manners), and the walker target the base definition and I/O
// stream a module delivered.
//
//     make_seeds OUTPUT_DIR     (writes OUTPUT_DIR/{reply,racksim,walkers}/...)
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "fuzz_input.h"
#include "rack.h"
#include "racksim_manners.h"
#include "remote_master.h"
#include "reply_harness.h"
#include "sim_device.h"
#include "sim_rack.h"

namespace {

using zebfuzz::Bytes;
namespace fs = std::filesystem;

// A node with inputs and outputs of every width, a setup record, a configuration block, a
// remote master behind shared RAM base 0, slot 0, and the standard controller, memory and
// serial ports.
racksim::Rack seed_rack() {
    racksim::Module m("press", 7, racksim::kKindNode);
    m.base.base_slots = 32;
    racksim::Slot& s0 = m.add_slot(0, racksim::SlotRecord::full(0x25, {12, 4, 2, 1, 1, 1}));
    s0.io.bit_in = {0xA5, 0x03};
    s0.io.word_in = {0x1234, 0xBEEF};
    s0.io.dword_in = {0xCAFEF00D};
    m.add_slot(3, racksim::SlotRecord::basic(0x24, 0, 8, 0, 0));
    m.add_slot(9, racksim::SlotRecord::paired(0x50, {{5, 3}, {9, 2}})).io.word_in = {1, 2, 3};
    m.add_slot(20, racksim::SlotRecord::wide(0x40, 16, 0, 2, 0)).io.bit_in = {0x0F, 0xF0};
    m.setup.put(0x30, {'b', 'e', 'l', 't', '-', '7'});
    m.config = {0x10, 0x20, 0x30, 0x40, 0x50};
    m.identity.ip = zebfuzz::kModuleIp;
    install_remote_master(m.shared_ram, {0, 0, 0});
    m.serial.ports.at(1).deliver(reinterpret_cast<const uint8_t*>("READY\r\n"), 7);
    racksim::Rack rack;
    rack.add_module(std::move(m));
    return rack;
}

void write(const fs::path& file, const Bytes& bytes) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::string numbered(size_t i, const char* name) {
    char head[8];
    std::snprintf(head, sizeof head, "%02zu-", i);
    return head + std::string(name);
}

// The RackSim target's input for requests sent to the sample rack's first module, unframed.
void add_request(Bytes& input, const Bytes& request) {
    zebfuzz::FuzzInput out(&input);
    out.number(3, 0);
    out.flag(false);
    out.number(0xFFFF, 0);
    out.bytes(1600, request);
    out.number(zebfuzz::manner_choice_max(), 0);
}

void reply_and_request_seeds(const fs::path& dir) {
    const auto& ops = zebfuzz::reply_operations();
    for (size_t i = 0; i < ops.size(); ++i) {
        racksim::Rack rack = seed_rack();
        Bytes requests;
        Bytes transcript;
        zebfuzz::FuzzInput in(&transcript);
        zebfuzz::run_reply_case(
            in,
            [&](const zebtest::Datagram& d) {
                add_request(requests, d.bytes);
                std::vector<zebfuzz::ReplyDatagram> replies;
                for (racksim::Outgoing& o : rack.handle(d.to.ip, d.bytes.data(), d.bytes.size())) {
                    replies.push_back({3, o.delay_ms, Bytes(o.bytes.begin() + 9, o.bytes.end())});
                }
                return replies;
            },
            i);
        write(dir / "reply" / (numbered(i, ops[i].name) + ".bin"), transcript);
        if (!requests.empty())
            write(dir / "racksim" / (numbered(i, ops[i].name) + ".bin"), requests);
    }
}

// The RackSim target's runs in each manner: requests acknowledged first, refused, read to the
// end of their reply and read as fields, twice over so that there is a previous reply to copy.
void manner_seeds(const fs::path& dir) {
    const std::vector<Bytes> payloads = {
        {0x0C, 0x00, 0x40, 0x00, 0xAB},                    // setup write
        {0x0D, 0x00, 0x40, 0x00},                          // setup delete
        {0x23, 0x85, 0x01, 0x01, 0x00, 0x80, 0x25, 0x00,   // port 2 setup that waits
         0x00, 0x08, 0x00, 0x00, 0x00},                    //
        {0x19, 0x00, 0x01, 0x1E, 0x04, 0x00, 0x00, 0x77},  // CCM read of no area
        {0x07},                                            // I/O read
        {0x14, 0x00},                                      // keep-alive
        {0x0A},                                            // setup types
        {0x26},                                            // memory listing
        {0x23, 0x82, 0x07, 0x10, 0x00},                    // read of a missing port
    };
    const auto& named = racksim::named_manners();
    for (uint32_t choice = 0; choice <= zebfuzz::manner_choice_max(); ++choice) {
        Bytes input;
        uint16_t sequence = 1;
        for (int round = 0; round < 2; ++round) {
            for (const Bytes& p : payloads) {
                zebfuzz::FuzzInput out(&input);
                out.number(3, 0);
                out.flag(false);
                out.number(0xFFFF, 0);
                out.bytes(1600, racksim::make_request(sequence++, p, true));
                out.number(zebfuzz::manner_choice_max(), choice);
            }
        }
        const std::string name = choice < named.size()    ? named[choice].name
                                 : choice == named.size() ? "random"
                                                          : "refusing";
        write(dir / "racksim" / ("manner-" + numbered(choice, name.c_str()) + ".bin"), input);
    }
}

// What RackTap walks: a base definition and an I/O stream, each as a module delivered it.
void walker_seeds(const fs::path& dir) {
    for (const bool extended : {false, true}) {
        zebtest::ScopedSimNetwork net;
        zebtest::SimRack sim(*net, seed_rack());
        zebtest::IpDevice dev(sim.endpoint(0), {100, 1, 0});
        uint8_t base[1200] = {};
        uint8_t io[1200] = {};
        uint16_t base_size = sizeof base;
        uint16_t io_size = sizeof io;
        if (extended) base[0] = io[0] = 0xB1;  // asks for the extended item format
        ZEBReadBaseDef(&dev.device, base, &base_size);
        if (extended) io[1] = 0;
        ZEBReadIO(&dev.device, io, &io_size);
        Bytes input;
        zebfuzz::FuzzInput out(&input);
        out.bytes(4096, Bytes(base, base + base_size));
        input.insert(input.end(), io, io + io_size);
        write(dir / "walkers" / (extended ? "extended.bin" : "compact.bin"), input);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds OUTPUT_DIR\n");
        return 2;
    }
    reply_and_request_seeds(argv[1]);
    manner_seeds(argv[1]);
    walker_seeds(argv[1]);
    return 0;
}
