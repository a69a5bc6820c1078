#include "xcpu_util.h"

#include <gtest/gtest.h>

namespace racksim::test {

Args& Args::u32(uint32_t v) {
    put_u32(b, v);
    return *this;
}

Args& Args::u64(uint64_t v) {
    put_u32(b, static_cast<uint32_t>(v));
    return u32(static_cast<uint32_t>(v >> 32));
}

Args& Args::raw(const Bytes& bytes) {
    b.insert(b.end(), bytes.begin(), bytes.end());
    return *this;
}

Args& Args::zeros(size_t n) {
    b.resize(b.size() + n, 0);
    return *this;
}

Args& Args::path(const std::string& text) {
    put_u16(b, static_cast<uint16_t>(text.size() + 1));
    b.insert(b.end(), text.begin(), text.end());
    b.push_back(0);
    return *this;
}

Bytes service(uint16_t number, const Bytes& args) {
    Bytes p{0x35, 0xCA};
    put_u16(p, number);
    p.insert(p.end(), args.begin(), args.end());
    return p;
}

ServiceReply decode_service(const Reply& r) {
    ServiceReply s;
    s.size = r.payload.size();
    if (r.payload.size() >= 2) s.status = get_u16(r.payload.data());
    if (r.payload.size() >= 6) {
        s.value = get_u32(r.payload.data() + 2);
        s.out.assign(r.payload.begin() + 6, r.payload.end());
    }
    return s;
}

ServiceReply call(Rack& rack, uint16_t number, const Bytes& args) {
    return decode_service(ask_one(rack, kModuleA, service(number, args)));
}

Rack controller_rack(const std::string& root) {
    Rack rack;
    Module m("cpu", 1);
    m.controller_os.root = root;
    rack.add_module(std::move(m));
    return rack;
}

uint32_t open_file(Rack& rack, const std::string& path, uint32_t access, uint32_t creation,
                   uint32_t share) {
    const ServiceReply r = call(rack, svc::kCreateFile,
                                Args().path(path).u32(access).u32(share).u32(creation).u32(0).b);
    EXPECT_EQ(r.status, 0u);
    return r.value;
}

uint32_t last_error(Rack& rack) {
    const ServiceReply r = call(rack, svc::kGetLastError);
    EXPECT_EQ(r.status, 0u);
    return r.value;
}

bool close_handle(Rack& rack, uint32_t handle) {
    return call(rack, svc::kCloseHandle, Args().u32(handle).b).value == 1;
}

}  // namespace racksim::test
