// The scenario table of the matrices. A new update path adds its rows here:
// a host preset, the configuration files and images, the command.
#include "matrix.h"

#include <ostream>

#include "../e2e/datafile_hosts.h"

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

// The 27xx and 28xx cards of the dual-bank presets, updated online with
// family images built for them.
const char *const kTableDualBank = "0x0501,0x1D7A,CXR2772,Dual port 32Gb FC HBA,TRUE\n"
                                   "0x0601,0x1D7A,CXR2882,Dual port 64Gb FC HBA,TRUE\n";
const std::vector<std::vector<std::string>> kImagesFenwar = {
    {"fenwar", "--ssvid", "0x1D7A", "--ssdid", "0x0501", "--device-id", "0x2071", "fenwar.bin"}};
const std::vector<std::vector<std::string>> kImagesZult = {{"zult", "--ssvid", "0x1D7A", "--ssdid", "0x0601",
                                                            "--device-id", "0x2281", "--image-version", "2.5.0",
                                                            "zult.bin"}};
const char *const kControlZult = "0x0601,0x1D7A,CXR2882-2P,3.28,6.01,4.03,9.01.02,zult.bin,2.05.00\n";
// The online update rests on the NVRAM's subsystem IDs, the status
// records, the running boot code and board configuration.
const std::vector<std::string> kOnlineGuards = {"TvxGetVariableValue", "TvxGetOptionRomEx@0x95",
                                                "TvxGetOptionRomEx@0x96", "TvxGetOptionRomEx@0x07",
                                                "TvxGetOptionRomEx@0xBA"};

// The classic paths patch the subsystem IDs into the boot images and keep
// the current contents where the image does not reach.
const std::vector<std::string> kClassicGuards = {"TvxGetVariableValue", "TvxGetOptionRomEx@0xFF"};

// Converged adapters: the multi-region images for the presets' boards, one
// version above what their VPD names. Their updates read the subsystem IDs,
// the boot regions whose BIOS default area they carry and the VPD regions
// whose keywords they rewrite.
const char *const kTableCna = "0x0801,0x1D7A,CXR8001,Dual port 10Gb FCoE CNA,TRUE\n"
                              "0x0821,0x1D7A,CXR8021,Dual port 10Gb CNA,TRUE\n"
                              "0x0831,0x1D7A,CXR8031,Dual port 10Gb CNA,TRUE\n";
const std::vector<std::vector<std::string>> kImagesCna8001 = {
    {"firstgen", "--ssvid", "0x1D7A", "--ssdid", "0x0801", "--image-version", "2.1.0", "cna8001.bin"}};
const std::vector<std::vector<std::string>> kImagesLark = {
    {"lark", "--ssvid", "0x1D7A", "--ssdid", "0x0821", "--image-version", "2.1.0", "lark.bin"}};
const std::vector<std::vector<std::string>> kImagesTesk = {
    {"tesk", "--ssvid", "0x1D7A", "--ssdid", "0x0831", "--image-version", "2.1.0", "tesk.bin"}};
const char *const kControlCna8001 = "0x0801,0x1D7A,CXR8152,2.10,1.08,2.00,05.03.01,cna8001.bin,02.01.00\n";
const char *const kControlLark = "0x0821,0x1D7A,CXR8242,2.20,1.10,2.10,04.02.17,lark.bin,02.01.00\n";
const char *const kControlTesk = "0x0831,0x1D7A,CXR8342,3.30,6.10,4.00,09.01.02,tesk.bin,02.01.00\n";
const std::vector<std::string> kCna8001Guards = {"TvxGetVariableValue",    "TvxGetOptionRomEx@0x07",
                                                 "TvxGetOptionRomEx@0x14", "TvxGetOptionRomEx@0x16",
                                                 "TvxGetOptionRomEx@0x2C", "TvxGetOptionRomEx@0x2D"};
const std::vector<std::string> kLarkGuards = {"TvxGetVariableValue", "TvxGetOptionRomEx@0x07",
                                              "TvxGetOptionRomEx@0x81"};
const std::vector<std::string> kTeskGuards = {"TvxGetVariableValue",    "TvxGetOptionRomEx@0x07",
                                              "TvxGetOptionRomEx@0xA2", "TvxGetOptionRomEx@0x81",
                                              "TvxGetOptionRomEx@0x14", "TvxGetOptionRomEx@0x16"};

// Configuration data files: a 27xx (PEP board config 0xCF, preload table
// 0x13), a Tesk converged card (board config 0x71, preload table 0x13) and
// a 25xx, every data file newer than the adapter's contents. A file's
// bytes rest on the region's current contents and on the subsystem IDs
// that choose the file.
std::string DataFileHost(const std::filesystem::path &dir) {
    dathost::WriteNewerFiles(dir, dathost::WriteHost(dir));
    return {};
}
const std::vector<std::string> kDataFileGuards = {"TvxGetVariableValue", "TvxGetOptionRomEx@0xFF",
                                                  "TvxGetOptionRomEx@0xCF=>0xCF", "TvxGetOptionRomEx@0x71=>0x71",
                                                  "TvxGetOptionRomEx@0x13=>0x13"};

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

        // The 27xx and 28xx online updates. Their image copies carry the
        // time of the run (the layout table's time stamp behind the boot
        // code, to the minute; the memo block's update time, to the
        // second), so their bytes equal the fault-free run's only within
        // the same minute or second; and a run after a cut past the record
        // flip writes the other set (the records designate the new one and
        // no reset happens here), so the flash can't equal the fault-free
        // run's. The set consistency after every cut is proven by
        // tests/e2e/online_powercut_test.cpp.
        {.name = "b_instance_fc27xx_online", .preset = "fc27xx", .table = kTableDualBank, .control = "",
         .images = kImagesFenwar, .args = {"/b", "0", "fenwar.bin"}, .allMustSucceed = true,
         .rerunNeedsNothing = false, .guards = kOnlineGuards,
         .faultPending = "time-stamped copies differ from the fault-free run once the minute or second changed; a "
                         "failed version or capability query (TvxGetVersion#0, TvxGetFlashUpdateCapabilities#0) "
                         "takes the offline path, which writes the primary set; a memo block write that fails "
                         "after the record flip (TvxGetOptionRomLayout#10) is only logged and the run ends "
                         "'update complete', status 0",
         .cutPending = "a run after a cut past the record flip writes the other set; time-stamped copies differ"},
        {.name = "default_fc28xx_online", .preset = "fc28xx", .table = kTableDualBank, .control = kControlZult,
         .images = kImagesZult, .args = {}, .allMustSucceed = true, .rerunNeedsNothing = true,
         .guards = kOnlineGuards,
         .faultPending = "time-stamped copies differ from the fault-free run once the minute or second changed",
         .cutPending = "a run after a cut past the record flip writes the other set; time-stamped copies differ"},

        // The descriptor table repair of a Tesk FC card: one region written
        // from its own contents; another run answers 430 (exit status 174)
        // and writes nothing.
        {.name = "fdt_tesk_fc", .preset = "fc-tesk-fc", .table = "", .control = "", .images = {},
         .args = {"/fdt", "0"}, .allMustSucceed = true, .rerunNeedsNothing = true,
         .guards = {"TvxGetOptionRomEx@0x1A"}, .nothingLeftStatus = 430 & 0xFF},

        // Data files applied by the default run before the 25xx's update.
        // The converged board config (0x71) has no version to compare and
        // is rebuilt on every run: a run after a completed update writes it
        // again, with the same bytes.
        {.name = "default_datafiles", .preset = "", .table = dathost::kTable, .control = dathost::kControl,
         .images = {dathost::kKit25}, .args = {}, .allMustSucceed = true, .rerunNeedsNothing = true,
         .guards = kDataFileGuards, .makeHost = DataFileHost, .dataRegions = {"0xCF", "0x71", "0x13"},
         .rewrittenEachRun = {"0x71"}},

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
        // Converged adapters. Every run stamps the time of the update into the
        // layout table copies after the boot codes and into the Tesk memo
        // block, so runs differ from the fault-free run in those bytes.
        {.name = "default_cna8001", .preset = "cna8001", .table = kTableCna, .control = kControlCna8001,
         .images = kImagesCna8001, .args = {}, .allMustSucceed = true, .rerunNeedsNothing = true,
         .guards = kCna8001Guards,
         .faultPending = "the write wrappers read the subsystem IDs again (TvxGetVariableValue#40 on) for the "
                         "model text of their log line; after such a read failed the next region is written "
                         "(from the IDs read before the first write)",
         .cutPending = "cut off after the FC VPD 0 write: the next default run reads the new version from VPD 0 "
                       "and finds nothing to update (status 1); FC VPD 1 and the NIC VPDs keep the old version "
                       "keywords"},
        {.name = "default_cna_lark", .preset = "cna-lark", .table = kTableCna, .control = kControlLark,
         .images = kImagesLark, .args = {}, .allMustSucceed = true, .rerunNeedsNothing = true, .guards = kLarkGuards,
         .faultPending = "a port of the second card not opened (TvxOpenDevice#2): that card is left out of the "
                         "list and the run reports success, status 0; the wrappers' model-text ID reads as in "
                         "default_cna8001"},
        {.name = "default_cna_tesk", .preset = "cna-tesk", .table = kTableCna, .control = kControlTesk,
         .images = kImagesTesk, .args = {}, .allMustSucceed = true, .rerunNeedsNothing = true, .guards = kTeskGuards,
         .faultPending = "the memo block (0xDF) carries the time of the update to the second, so every case "
                         "writes other bytes there than the fault-free run",
         .cutPending = "cut off after the NIC/CNA VPD (0x81) write: the next default run reads the new version "
                       "from it and finds nothing to update (status 1); FC VPD 0x14 and 0x16 keep the old "
                       "version keywords"},
        {.name = "b_instance_cna_tesk", .preset = "cna-tesk", .table = kTableCna, .control = "", .images = kImagesTesk,
         .args = {"/b", "0", "tesk.bin"}, .allMustSucceed = true, .rerunNeedsNothing = false, .guards = kTeskGuards,
         .faultPending = "the memo block (0xDF) carries the time of the update to the second, so every case "
                         "writes other bytes there than the fault-free run",
         .cutPending = "the memo block (0xDF) carries the time of the update to the second, so the run after "
                       "the cut writes other bytes there than the fault-free run"},
    };
    // clang-format on
    return kRows;
}

void PrintTo(const Scenario &s, std::ostream *os) { *os << s.name; }

} // namespace matrix
