// The CCM and K-sequence requests (function codes 0x19, 0x1A): the operation a CCM request asks
// for, and the marker each reply begins with, ahead of the request's function code.
#pragma once

#include <cstddef>
#include <cstdint>

#include "vocab/named.h"

namespace zeb::vocab {

namespace ccm {

inline constexpr uint8_t kWrite = 0x20;
inline constexpr uint8_t kRead = 0x1E;

// The most bytes a CCM request moves or a K-sequence message holds (a count byte of 0 is 256).
inline constexpr size_t kMaxCount = 256;

// The acknowledgement comes at once, the answer when the controller has given it. A module that
// cannot pass the request on answers in place of the acknowledgement with a status word; our
// modules mark that reply as refused.
inline constexpr uint8_t kAcknowledged = 0x20;
inline constexpr uint8_t kRefused = 0x21;
inline constexpr uint8_t kAnswered = 0x22;
// An answer's head: the marker, the request's function code, a status word; its data follows.
inline constexpr size_t kAnswerHeadSize = 4;

}  // namespace ccm

inline constexpr Named<uint8_t> kCcmMarkers[] = {
    {ccm::kAcknowledged, "acknowledged"},
    {ccm::kRefused, "refused"},
    {ccm::kAnswered, "answer"},
};
static_assert(ascending(kCcmMarkers));

}  // namespace zeb::vocab
