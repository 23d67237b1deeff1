// The scenario table of the matrices. A new update path adds its rows here:
// a host preset, the configuration files and images, the command.
#include "matrix.h"

#include <fstream>
#include <ostream>

#include <nlohmann/json.hpp>

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
// A 27xx whose version or capability query fails is updated offline, into
// the primary set: the same host with a library too old for online
// activation takes that path without faults.
const std::vector<std::string> kOfflineAfter = {"TvxGetVersion", "TvxGetFlashUpdateCapabilities"};
std::string OfflineLibraryHost(const std::filesystem::path &dir) {
    const std::filesystem::path file = dir / "host.json";
    std::ifstream in(file);
    nlohmann::json host = nlohmann::json::parse(in, nullptr, false);
    if (!host.is_object()) return "cannot read " + file.string();
    host["version"] = "1.28.121.0";
    std::ofstream out(file, std::ios::trunc);
    out << host.dump(2);
    return out ? std::string() : "cannot write " + file.string();
}
// The memo block and the VPD version keywords record the completed update.
const char *const kMemoErrors = "Updating Adapter Flash Memo Block... Failed";
// Regions the dual-bank chips keep in two copies (set 1, set 2).
const std::vector<std::pair<uint32_t, uint32_t>> kFenwarSets = {
    {0x01, 0x02}, {0x07, 0x09}, {0x66, 0x67}, {0x9E, 0x9F}, {0xE1, 0xE5}};
const std::vector<std::pair<uint32_t, uint32_t>> kZultSets = {
    {0x01, 0x02}, {0x07, 0x09},  {0x11, 0x0A}, {0x13, 0x107}, {0x9E, 0x9F},   {0xBA, 0x10B},  {0xCF, 0x106},
    {0xD1, 0xF1}, {0xD2, 0x105}, {0xD3, 0xF0}, {0xDF, 0x124}, {0x101, 0x108}, {0x102, 0x109}, {0x103, 0x10A}};

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
// The first-generation and Lark write wrappers read the subsystem IDs again
// for the model text of their log line only; the bytes they write were
// settled before the first write from the IDs the driver read (a failure of
// that read ends the update before anything is written). Those rows guard
// the VPD and boot region reads but not the ID reads. A failed VPD read
// guards only the writes of that copy.
const std::vector<std::string> kCna8001Guards = {"TvxGetOptionRomEx@0x07", "TvxGetOptionRomEx@0x14=>0x14",
                                                 "TvxGetOptionRomEx@0x16=>0x16", "TvxGetOptionRomEx@0x2C=>0x2C",
                                                 "TvxGetOptionRomEx@0x2D=>0x2D"};
const std::vector<std::string> kLarkGuards = {"TvxGetOptionRomEx@0x07", "TvxGetOptionRomEx@0x81=>0x81"};
const std::vector<std::string> kTeskGuards = {"TvxGetVariableValue",          "TvxGetOptionRomEx@0x07",
                                              "TvxGetOptionRomEx@0xA2",       "TvxGetOptionRomEx@0x81=>0x81",
                                              "TvxGetOptionRomEx@0x14=>0x14", "TvxGetOptionRomEx@0x16=>0x16"};
// The VPD version keywords and the Tesk memo block record a completed
// update: a failure to write them is reported beside the success message
// ("... with errors in version updates in VPD.", the memo block's progress
// line), and the flash the adapter runs is the new one all the same.
const char *const kVpdErrors = "errors in version updates in VPD";
const std::vector<std::pair<std::string, std::string>> kCna8001Records = {
    {"0x14", kVpdErrors}, {"0x16", kVpdErrors}, {"0x2C", kVpdErrors}, {"0x2D", kVpdErrors}};
const std::vector<std::pair<std::string, std::string>> kLarkRecords = {{"0x81", kVpdErrors}};
const std::vector<std::pair<std::string, std::string>> kTeskRecords = {
    {"0x81", kVpdErrors},
    {"0x14", kVpdErrors},
    {"0x16", kVpdErrors},
    {"0xDF", "Updating Adapter Flash Memo Block... Failed"}};

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

        // The 27xx and 28xx online updates: the new set is written and
        // activated. A failed version or capability query sends the 27xx
        // offline, into the primary set.
        {.name = "b_instance_fc27xx_online", .preset = "fc27xx", .table = kTableDualBank, .control = "",
         .images = kImagesFenwar, .args = {"/b", "0", "fenwar.bin"}, .allMustSucceed = true,
         .rerunNeedsNothing = false, .guards = kOnlineGuards,
         .records = {{"0xDF", kMemoErrors}, {"0x14", kVpdErrors}, {"0x16", kVpdErrors}, {"0xD4", kVpdErrors},
                     {"0xD6", kVpdErrors}},
         .alternativeAfter = kOfflineAfter, .alternativeHost = OfflineLibraryHost, .setPairs = kFenwarSets},
        {.name = "default_fc28xx_online", .preset = "fc28xx", .table = kTableDualBank, .control = kControlZult,
         .images = kImagesZult, .args = {}, .allMustSucceed = true, .rerunNeedsNothing = true,
         .guards = kOnlineGuards, .setPairs = kZultSets},

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

        // A 23xx whose option ROM carries a common BIOS (stamped with the
        // board's IDs and model name), and the four-port card of two chips.
        {.name = "default_fc23xx_common_bios", .preset = "fc23xx", .table = kTable, .control = kControl23,
         .images = kImages23Common, .args = {}, .allMustSucceed = true, .rerunNeedsNothing = true,
         .guards = kClassicGuards},
        {.name = "default_fc25xx_4port", .preset = "fc25xx-4port", .table = kTable4Port, .control = kControl4Port,
         .images = kImages25, .args = {}, .allMustSucceed = true, .rerunNeedsNothing = true,
         .guards = kClassicGuards},

        // Converged adapters. Every run stamps the time of the update into the
        // layout table copies after the boot codes and into the Tesk memo
        // block; the matrices fix the program's clock so that runs match.
        // The Lark host has a two-port and a one-port card: a port that
        // cannot be opened counts as a failed update.
        {.name = "default_cna8001", .preset = "cna8001", .table = kTableCna, .control = kControlCna8001,
         .images = kImagesCna8001, .args = {}, .allMustSucceed = true, .rerunNeedsNothing = true,
         .guards = kCna8001Guards, .records = kCna8001Records},
        {.name = "default_cna_lark", .preset = "cna-lark", .table = kTableCna, .control = kControlLark,
         .images = kImagesLark, .args = {}, .allMustSucceed = true, .rerunNeedsNothing = true, .guards = kLarkGuards,
         .records = kLarkRecords},
        {.name = "default_cna_tesk", .preset = "cna-tesk", .table = kTableCna, .control = kControlTesk,
         .images = kImagesTesk, .args = {}, .allMustSucceed = true, .rerunNeedsNothing = true, .guards = kTeskGuards,
         .records = kTeskRecords},
        {.name = "b_instance_cna_tesk", .preset = "cna-tesk", .table = kTableCna, .control = "", .images = kImagesTesk,
         .args = {"/b", "0", "tesk.bin"}, .allMustSucceed = true, .rerunNeedsNothing = false, .guards = kTeskGuards,
         .records = kTeskRecords},
    };
    // clang-format on
    return kRows;
}

void PrintTo(const Scenario &s, std::ostream *os) { *os << s.name; }

} // namespace matrix
