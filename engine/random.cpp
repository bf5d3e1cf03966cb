#include "random.h"

std::atomic<uint32_t> random15::state{1};
