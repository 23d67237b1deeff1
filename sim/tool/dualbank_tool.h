// tarniksim parts for chips with two flash sets: the lines `show` adds per
// chip, and the `reset` command.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarniksim {

// Running set, image status records, memo blocks and descriptor table of
// the chip behind an open handle (nothing for chips without them).
void ShowDualBank(uint32_t instance, uint32_t handle);

// tarniksim reset <dir> [<card>/<chip>]: a reset of every chip (or one);
// dual-bank chips start running the set their records designate.
int ResetCommand(const std::vector<std::string> &args);

} // namespace tarniksim
