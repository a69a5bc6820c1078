#include "builtin_rack.h"

namespace racksim {

const char* const kBuiltinRack = R"({
  "modules": [
    {
      "name": "rio-1",
      "number": 1,
      "kind": "Qx-RIO",
      "slots": [
        {"slot": 0, "record": {"kind": 1, "id": 35, "bit_in": 8}, "inputs": {"bits": [1, 0, 1]}},
        {"slot": 1, "record": {"kind": 1, "id": 35, "bit_in": 8}, "wired_from": 3},
        {"slot": 3, "record": {"kind": 1, "id": 36, "bit_out": 8}},
        {"slot": 4, "record": {"kind": 1, "id": 40, "word_in": 2, "word_out": 2}, "counter": true}
      ]
    }
  ]
})";

}  // namespace racksim
