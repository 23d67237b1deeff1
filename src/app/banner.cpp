// Version banner.
#include <string>

#include "app/cmdline.h"
#include "app/output.h"
#include "oss/oss.h"

void PrintVersion() {
    OutputMessage("%s\nv%d.%d.%d Build %d", "Orvane Flash (Firmware Component) Update Utility", 2, 2, 0, 3);
    OutputMessage("%s", "Copyright (C) 2026 The tarnikflasher developers.\n"
                        "Distributed without warranty; check each adapter's vendor support before updating.");
    OutputMessage("%s", "Build Type: Release");
    std::string date, time;
    OSSGetBuildDateTime(date, time);
    OutputMessage("Build Date: %s %s", date.c_str(), time.c_str());
}
