// Instances the library reported but that could not be opened. Such a port
// is on the host, yet no command can reach it: the default run counts it as
// an adapter whose update failed instead of leaving it out unnoticed. (An
// instance that never got ready is an unsupported adapter, not noted here.)
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "torvex.h"

struct UnopenedDevice {
    uint32_t instance = 0;
    TVX_STATUS status = 0; // the failed open's status
    std::string text;      // the library's text of that status
};

// Discovery forgets the previous run's instances, then notes each failed open.
void ClearUnopenedDevices();
void NoteUnopenedDevice(uint32_t instance, TVX_STATUS status, const char *text);
const std::vector<UnopenedDevice> &UnopenedDevices();

// The unopened instances that no opened port accounts for. A port at the
// second PCI function of a chip whose first function was not opened stands
// for its chip: the unopened instance just before it is that first port, which
// the chip's update (written through the present port, or counted failed
// there) covers. Every other unopened instance may be a card of its own.
std::vector<UnopenedDevice> UnaccountedUnopenedDevices();
