#include "multiregion/fdt.h"

#include "app/output.h"

int ModifyAllHBAsFLashDescriptorTable() {
    OutputLevelMessage(LEVEL_DEBUG, "ModifyAllHBAsFLashDescriptorTable: Enter...");
    OutputMessage("%s", "This command is not supported by this build.");
    OutputLevelMessage(LEVEL_DEBUG, "ModifyAllHBAsFLashDescriptorTable: Return %d..", FDT_STATUS_NOT_SUPPORTED);
    return FDT_STATUS_NOT_SUPPORTED;
}
