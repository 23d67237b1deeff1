// Where an adapter's data file is looked for: the folder named after its
// subsystem IDs below the configuration directory.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "app/settings.h"
#include "datafiles/datrun.h"
#include "oss/oss.h"

namespace {

namespace fs = std::filesystem;

TEST(PayloadFile, FolderOfTheSubsystemIds) {
    const fs::path dir = fs::temp_directory_path() / ("tf_payload_" + std::to_string(::getpid()));
    fs::create_directories(dir / "x1234x0112");
    fs::create_directories(dir / "x1d7ax0a01");
    std::ofstream(dir / "x1234x0112" / "PEP27BC.dat") << "; data\n";
    std::ofstream(dir / "x1d7ax0a01" / "BC26xx.DAT") << "; data\n";
    std::snprintf(g_szConfigPath, sizeof g_szConfigPath, "%s%c", dir.string().c_str(), OSS_PATH_SEPARATOR);
    struct Row {
        const char *file;
        uint16_t ssvid, ssdid;
        int found;
    };
    const Row rows[] = {
        {"PEP27BC.dat", 0x1234, 0x0112, 1},
        {"PEP27BC.dat", 0x1234, 0x0113, 0},
        {"FWA83xxB.DAT", 0x1234, 0x0112, 0},
        // Folder names are upper-case hex.
        {"BC26xx.DAT", 0x1D7A, 0x0A01, 0},
    };
    for (const auto &row : rows) {
        std::string path;
        EXPECT_EQ(FindMatchingPayloadFile(row.file, path, row.ssdid, row.ssvid), row.found) << row.file;
        char folder[16];
        std::snprintf(folder, sizeof folder, "x%04Xx%04X", row.ssvid, row.ssdid);
        EXPECT_EQ(path,
                  dir.string() + OSS_PATH_SEPARATOR + OSS_PATH_SEPARATOR + folder + OSS_PATH_SEPARATOR + row.file);
    }
    fs::remove_all(dir);
}

} // namespace
