// The function codes: the first byte of every request body. They are declared, with their names,
// in the vocabulary that RackSim, the tools and the tests share.
#pragma once

#include "vocab/functions.h"

namespace zeb {
namespace fn = vocab::fn;
}  // namespace zeb
