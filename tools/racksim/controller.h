// The controller behind a module: data areas that CCM requests read and write, named by their
// CCM data type and addressed by byte, and the answers it gives to K-sequence messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "bytes.h"
#include "capacities.h"
#include "vocab/ccm.h"

namespace racksim {

namespace ccm = zeb::vocab::ccm;

// A CCM request moves at most 256 bytes; areas are addressed by a 16-bit byte address.
inline constexpr size_t kCcmMaxCount = ccm::kMaxCount;
inline constexpr size_t kControllerAreaMax = 0x10000;
// What a host takes of a K-sequence answer: its reply less header and answer head.
inline constexpr size_t kKseqAnswerMax =
    capacity::kControllerReply - kHeaderSize - ccm::kAnswerHeadSize;
inline constexpr size_t kKseqMessageMax = ccm::kMaxCount;

// CCM operations (byte 3 of the request).
inline constexpr uint8_t kCcmWrite = ccm::kWrite;
inline constexpr uint8_t kCcmRead = ccm::kRead;

struct ControllerArea {
    std::string name;
    Bytes data;  // its size is the area's size
    bool writable = true;
    bool operator==(const ControllerArea&) const = default;
};

// A K-sequence message the controller answers with other bytes than the message itself.
struct KseqScript {
    Bytes message;
    Bytes answer;  // at most kKseqAnswerMax bytes
    bool operator==(const KseqScript&) const = default;
};

struct Controller {
    bool present = true;  // false: the module refuses controller requests at once
    std::map<uint8_t, ControllerArea> areas;  // by CCM data type
    std::vector<KseqScript> scripts;          // a message without a script is echoed

    // The answer to a K-sequence message.
    Bytes kseq_answer(const uint8_t* message, size_t len) const;

    // What a module has unless its rack entry says otherwise: type 1 "registers" (512 bytes),
    // type 2 "inputs" (64 bytes, read-only) and type 3 "outputs" (64 bytes); messages echoed.
    static Controller standard();
    bool operator==(const Controller&) const = default;
};

}  // namespace racksim
