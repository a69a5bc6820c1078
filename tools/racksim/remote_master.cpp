#include "remote_master.h"

#include <algorithm>
#include <map>
#include <memory>

#include "functions.h"
#include "module.h"
#include "rack.h"

namespace racksim {
namespace {

constexpr size_t kControl = 0x30;
constexpr size_t kWindow = 0x3C;
constexpr size_t kChunkMax = 256;
constexpr size_t kAreaSize = 0x10000;
constexpr uint8_t kForwardArea = 4;
constexpr uint16_t kForwardCommand = 3;
constexpr uint8_t kRunCommand = 6, kReadData = 7, kWriteData = 8;
constexpr uint8_t kDone = 2, kFailed = 3;

struct MasterState {
    RemoteMasterSettings settings;
    int pending = -1;  // started command byte not yet carried out
    uint32_t busy = 0;
    std::map<uint8_t, Bytes> areas;

    Bytes& area(uint8_t a) {
        Bytes& b = areas[a];
        if (b.size() != kAreaSize) b.assign(kAreaSize, 0);
        return b;
    }
};

// Runs the request in area 4 on the node and files its answer there.
void forward(Context& ctx, MasterState& st, const Bytes& block) {
    const uint16_t node = get_u16(&block[6]);
    const uint16_t length = std::min<size_t>(get_u16(&block[10]), kAreaSize);
    Bytes& area = st.area(kForwardArea);
    Bytes answer;
    uint16_t status = kNodeNotAnswering;
    for (Module& m : ctx.rack.modules()) {
        if (m.number() != node || &m == &ctx.module) continue;
        Request req;
        req.payload.assign(area.begin(), area.begin() + length);
        // The answer travels as data through the mailbox, as the node serves it: a manner
        // shapes only the frames a module sends itself.
        const Manner served;
        Context node_ctx{ctx.rack, m, m.faults, served, ctx.clock, ctx.files};
        Execution ex = execute(node_ctx, req);
        if (!ex.answers.empty()) {
            answer = ex.answers.back().payload;  // the final one of an acknowledged request
            status = 0;
        }
        break;
    }
    answer.resize(std::min(answer.size(), kAreaSize - 4));
    area[0] = uint8_t(status);
    area[1] = uint8_t(status >> 8);
    area[2] = uint8_t(answer.size());
    area[3] = uint8_t(answer.size() >> 8);
    std::copy(answer.begin(), answer.end(), area.begin() + 4);
}

// Carries out the started block; returns 0 or the error code of a failed one.
uint16_t carry_out(Context& ctx, MasterState& st, Bytes& window, uint8_t command) {
    const Bytes block(window.begin() + kControl, window.begin() + kWindow);
    if (command == kRunCommand) {
        if (get_u16(&block[4]) != kForwardCommand) return kMasterUnknownCommand;
        forward(ctx, st, block);
        return 0;
    }
    const auto area = uint8_t(get_u16(&block[4]));
    const uint16_t offset = get_u16(&block[6]);
    const uint16_t length = get_u16(&block[8]);
    if (length == 0 || length > kChunkMax || offset + size_t(length) > kAreaSize) {
        return kMasterBadBlock;
    }
    Bytes& data = st.area(area);
    if (command == kWriteData) {
        std::copy_n(window.begin() + kWindow, length, data.begin() + offset);
    } else {
        std::copy_n(data.begin() + offset, length, window.begin() + kWindow);
    }
    return 0;
}

bool covers(const SharedRamAccess& a, size_t address) {
    return a.flagged && a.address <= address && address < size_t(a.address) + a.count;
}

}  // namespace

void install_remote_master(SharedRam& shared_ram, const RemoteMasterSettings& settings) {
    SharedRamRegion& region = shared_ram.regions[{settings.base, settings.slot}];
    constexpr size_t kNeeded = kWindow + kChunkMax;
    if (region.flagged.size() < kNeeded) region.flagged.resize(std::max<size_t>(1024, kNeeded));
    if (region.plain.empty()) region.plain.resize(1024);
    auto st = std::make_shared<MasterState>();
    st->settings = settings;

    region.after_write = [st](Context&, SharedRamRegion& r, const SharedRamAccess& a) {
        if (!covers(a, kControl)) return;
        const uint8_t command = r.flagged[kControl];
        const bool known = command == kRunCommand || command == kReadData || command == kWriteData;
        st->pending = known ? command : -1;
        st->busy = st->settings.busy_polls;
    };
    region.before_read = [st](Context& ctx, SharedRamRegion& r, const SharedRamAccess& a) {
        if (!covers(a, kControl + 1) || st->pending < 0) return;
        if (st->busy > 0) {
            --st->busy;
            return;
        }
        const uint16_t error = carry_out(ctx, *st, r.flagged, uint8_t(st->pending));
        st->pending = -1;
        r.flagged[kControl + 1] = error ? kFailed : kDone;
        if (error) {
            r.flagged[kControl + 2] = uint8_t(error);
            r.flagged[kControl + 3] = uint8_t(error >> 8);
        }
    };
}

}  // namespace racksim
