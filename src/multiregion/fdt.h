// Flash descriptor table repair over all adapters (/fdt).
//
// Not built yet: reports that the command is not supported by this build.
#pragma once

constexpr int FDT_STATUS_NOT_SUPPORTED = 7;

int ModifyAllHBAsFLashDescriptorTable();
