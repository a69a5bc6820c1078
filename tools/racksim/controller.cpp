#include "controller.h"

#include <algorithm>

namespace racksim {

Bytes Controller::kseq_answer(const uint8_t* message, size_t len) const {
    for (const KseqScript& s : scripts) {
        if (s.message.size() == len && std::equal(s.message.begin(), s.message.end(), message)) {
            return s.answer;
        }
    }
    return Bytes(message, message + len);
}

Controller Controller::standard() {
    Controller c;
    c.areas[1] = {"registers", Bytes(512, 0), true};
    c.areas[2] = {"inputs", Bytes(64, 0), false};
    c.areas[3] = {"outputs", Bytes(64, 0), true};
    return c;
}

}  // namespace racksim
