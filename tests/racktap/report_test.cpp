#include "report.h"

#include <gtest/gtest.h>

namespace racktap {
namespace {

ZEBDevice ip_module() {
    ZEBDevice module{};
    const uint8_t address[8] = {2, 0, 0x70, 0x70, 127, 0, 0, 5};
    std::copy(std::begin(address), std::end(address), module.Address.Raw);
    const uint8_t node[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    std::copy(std::begin(node), std::end(node), module.NodeAddress);
    return module;
}

TEST(Report, ShowsCountsInputsAndOutputs) {
    TransactionRecord record;
    auto& d = record.map[2].emplace();
    d.counts = Counts{10, 2, 2, 0, 1, 0};
    d.bit_inputs = {0x05, 0x02};
    d.word_inputs = {0x1234, 0xBEEF};
    d.dword_inputs = {0xDEADBEEF};
    record.sent = record.map;
    record.sent[2]->bit_outputs[0] = 0x02;
    record.inputs_delivered = true;
    record.output_length = 9;
    record.write_result = 0x2000;

    EXPECT_EQ(format_report(ZEB_PROTOCOL_IP, ip_module(), record),
              "Module: IP address 127.0.0.5, hardware address 00-1A-2B-3C-4D-5E\n"
              "Slot 2: bit inputs 10, bit outputs 2, word inputs 2, word outputs 0, "
              "32-bit inputs 1, 32-bit outputs 0\n"
              "Inputs read: result 0x00000000 (success)\n"
              "  slot 2 bit inputs: 10100000 01\n"
              "  slot 2 word inputs: 0x1234 0xBEEF\n"
              "  slot 2 32-bit inputs: 0xDEADBEEF\n"
              "Outputs written: 9 bytes, result 0x00002000 (ZEBWARN_RETRIED: success after "
              "re-sends)\n"
              "  slot 2 bit outputs: 01\n");
}

TEST(Report, EmptyMapAndFailedExchanges) {
    TransactionRecord record;
    record.base_def_result = ZEBERR_TIMEOUT;
    record.read_result = ZEBERR_TIMEOUT;
    record.write_result = ZEBERR_NO_DATA;
    record.output_length = 3;
    ZEBDevice module = ip_module();  // the same record read as an IPX address
    const uint8_t ipx[14] = {6, 0, 0, 0, 0, 1, 0x02, 0, 0, 0, 0, 7, 0x70, 0x70};
    std::copy(std::begin(ipx), std::end(ipx), module.Address.Raw);
    EXPECT_EQ(format_report(ZEB_PROTOCOL_IP, ip_module(), record),
              "Module: IP address 127.0.0.5, hardware address 00-1A-2B-3C-4D-5E\n"
              "No modules described: result 0x00008006 (ZEBERR_TIMEOUT: no reply, after every "
              "re-send)\n"
              "Inputs read: result 0x00008006 (ZEBERR_TIMEOUT: no reply, after every re-send)\n"
              "Outputs written: 3 bytes, result 0x00008005 (ZEBERR_NO_DATA: the reply carried no "
              "data)\n");
    EXPECT_EQ(format_report(ZEB_PROTOCOL_IPX, module, record).substr(0, 41),
              "Module: IPX address 00000001:020000000007");
}

}  // namespace
}  // namespace racktap
