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
const char *const kControl23 = "0x0101,0x1D7A,CXR2312,1.91,0.00,1.20,0.00.00,rom2312.bin,0.00.00\n";
const char *const kControl25 = "0x0301,0x1D7A,CXR2562,3.28,6.01,4.03,8.02.01,mbi2532.bin,3.01.02\n";

// The classic paths patch the subsystem IDs into the boot images and keep
// the current contents where the image does not reach.
const std::vector<std::string> kClassicGuards = {"TvxGetVariableValue", "TvxGetOptionRomEx@0xFF"};

} // namespace

const std::vector<Scenario> &Scenarios() {
    static const std::vector<Scenario> kRows = {
        // name, preset, table, control, images, command, all must succeed, rerun needs nothing, guards
        {"default_fc23xx", "fc23xx", kTable, kControl23, kImages23, {}, true, true, kClassicGuards},
        {"default_fc25xx", "fc25xx-2port", kTable, kControl25, kImages25, {}, true, true, kClassicGuards},
        {"b_all_fc23xx", "fc23xx", kTable, "", kImages23, {"/b", "ALL", "rom2312.bin"}, false, false, kClassicGuards},
        {"b_all_fc25xx",
         "fc25xx-2port",
         kTable,
         "",
         kImages25,
         {"/b", "ALL", "mbi2532.bin"},
         false,
         false,
         kClassicGuards},
        {"b_instance_fc23xx", "fc23xx", kTable, "", kImages23, {"/b", "0", "rom2312.bin"}, true, false, kClassicGuards},
        {"b_instance_fc25xx",
         "fc25xx-2port",
         kTable,
         "",
         kImages25,
         {"/b", "0", "mbi2532.bin"},
         true,
         false,
         kClassicGuards},
    };
    return kRows;
}

void PrintTo(const Scenario &s, std::ostream *os) { *os << s.name; }

} // namespace matrix
