// The scenario table of the matrices. A new update path adds its rows here:
// a host preset, the configuration files and images, the command.
#include "matrix.h"

#include <ostream>

namespace matrix {

namespace {

const char *const kTable = "0x0101,0x1D7A,CXR2312,Single port 2Gb FC HBA,TRUE\n"
                           "0x0201,0x1D7A,CXR2432,Dual port 4Gb FC HBA,TRUE\n"
                           "0x0301,0x1D7A,CXR2532,Dual port 8Gb FC HBA,TRUE\n";

// Images one step above what the presets' flash holds, and the control
// file that names them.
const std::vector<std::vector<std::string>> kImages23 = {
    {"optionrom23", "--chip", "2312", "--bios", "1.91", "--fcode", "1.20", "rom2312.bin"}};
const std::vector<std::vector<std::string>> kImages25 = {{"multiboot", "--chip", "2532", "mbi2532.bin"}};
// A 23xx option ROM whose common BIOS is stamped with the board's IDs, and
// the four-port card of two 25xx chips.
const std::vector<std::vector<std::string>> kImages23Common = {
    {"optionrom23", "--chip", "2312", "--common-bios", "--bios", "1.91", "--fcode", "1.20", "rom2312.bin"}};
const char *const kTable4Port = "0x0302,0x1D7A,CXR2532,Quad port 8Gb FC HBA,TRUE\n";
const char *const kControl4Port = "0x0302,0x1D7A,CXR2564,3.28,6.01,4.03,8.02.01,mbi2532.bin,3.01.02\n";
const char *const kControl23 = "0x0101,0x1D7A,CXR2312,1.91,0.00,1.20,0.00.00,rom2312.bin,0.00.00\n";
const char *const kControl25 = "0x0301,0x1D7A,CXR2562,3.28,6.01,4.03,8.02.01,mbi2532.bin,3.01.02\n";

// The classic paths patch the subsystem IDs into the boot images and keep
// the current contents where the image does not reach.
const std::vector<std::string> kClassicGuards = {"TvxGetVariableValue", "TvxGetOptionRomEx@0xFF"};

} // namespace

const std::vector<Scenario> &Scenarios() {
    // clang-format off
    static const std::vector<Scenario> kRows = {
        {.name = "default_fc23xx", .preset = "fc23xx", .table = kTable, .control = kControl23, .images = kImages23,
         .args = {}, .allMustSucceed = true, .rerunNeedsNothing = true, .guards = kClassicGuards},
        {.name = "default_fc25xx", .preset = "fc25xx-2port", .table = kTable, .control = kControl25, .images = kImages25,
         .args = {}, .allMustSucceed = true, .rerunNeedsNothing = true, .guards = kClassicGuards},
        {.name = "b_all_fc23xx", .preset = "fc23xx", .table = kTable, .control = "", .images = kImages23,
         .args = {"/b", "ALL", "rom2312.bin"}, .allMustSucceed = false, .rerunNeedsNothing = false,
         .guards = kClassicGuards},
        {.name = "b_all_fc25xx", .preset = "fc25xx-2port", .table = kTable, .control = "", .images = kImages25,
         .args = {"/b", "ALL", "mbi2532.bin"}, .allMustSucceed = false, .rerunNeedsNothing = false,
         .guards = kClassicGuards},
        {.name = "b_instance_fc23xx", .preset = "fc23xx", .table = kTable, .control = "", .images = kImages23,
         .args = {"/b", "0", "rom2312.bin"}, .allMustSucceed = true, .rerunNeedsNothing = false,
         .guards = kClassicGuards},
        {.name = "b_instance_fc25xx", .preset = "fc25xx-2port", .table = kTable, .control = "", .images = kImages25,
         .args = {"/b", "0", "mbi2532.bin"}, .allMustSucceed = true, .rerunNeedsNothing = false,
         .guards = kClassicGuards},

        // Rows that show defects not mended yet (skipped unless TF_MATRIX_ALL=1).
        {.name = "default_fc23xx_common_bios", .preset = "fc23xx", .table = kTable, .control = kControl23,
         .images = kImages23Common, .args = {}, .allMustSucceed = true, .rerunNeedsNothing = true,
         .guards = kClassicGuards,
         .faultPending = "after a failed node-property read (TvxGetHbaDeviceNodeProperty#0) the common BIOS is "
                         "stamped with a blank model name and written, status 0"},
        {.name = "default_fc25xx_4port", .preset = "fc25xx-4port", .table = kTable4Port, .control = kControl4Port,
         .images = kImages25, .args = {}, .allMustSucceed = true, .rerunNeedsNothing = true,
         .guards = kClassicGuards,
         .faultPending = "two-chip card: with port 0 not opened (TvxOpenDevice#0) or a VPD read failed "
                         "(TvxGetVpd#8) one chip keeps its old flash while the run reports success, status 0; "
                         "after the second chip's NVRAM read failed (TvxGetNVRam#5) its BIOS is stamped with "
                         "subsystem vendor ID 0",
         .cutPending = "two-chip card cut off after the first chip's writes: the next default run finds nothing "
                       "to update (status 1) and the second chip keeps its old flash"},
    };
    // clang-format on
    return kRows;
}

void PrintTo(const Scenario &s, std::ostream *os) { *os << s.name; }

} // namespace matrix
