// Configuration data files end to end: the default run applies the PEP
// board config (27xx), the converged board config (Tesk) and the firmware
// preload table before it updates the adapters; /pbc shows the PEP board
// config version. Hosts, region contents and data files are written here
// with the data-file kit; regions are read back with tarniksim dump.
#include <gtest/gtest.h>

#include <sstream>

#include "datafile_hosts.h"

namespace {

namespace fs = std::filesystem;
using namespace dathost;

uint32_t WordSum(const std::vector<uint8_t> &b, size_t length) {
    uint32_t s = 0;
    for (size_t i = 0; i + 4 <= length && i + 4 <= b.size(); i += 4)
        s += static_cast<uint32_t>(b[i] | b[i + 1] << 8 | b[i + 2] << 16 | static_cast<uint32_t>(b[i + 3]) << 24);
    return s;
}

// A host of a 27xx card (PEP board config at 1.2.3.4, preload table 1.2.3),
// a Tesk converged card (board config 2.1.0.0, preload 1.2.3) and a 25xx
// card whose boot code and firmware are below the flash control file's.
class DataScene : public upd::Scene {
  public:
    explicit DataScene(const std::string &tag, const std::string &port27 = "{}") : upd::Scene(tag) {
        const Regions r = WriteHost(path(), port27);
        pepRegion = r.pep, preload27 = r.preload27, preloadTesk = r.preloadTesk, teskRegion = r.tesk;
        e2e::WriteFile(path() / "adapters.properties", kTable);
        e2e::WriteFile(path() / "tarnikflasher.properties", kControl);
        Kit(kKit25);
    }
    // A data file in the adapter's folder of the configuration directory.
    void Dat(uint16_t ssdid, const std::string &name, const std::string &text) { WriteDat(path(), ssdid, name, text); }
    std::string DatPath(uint16_t ssdid, const std::string &name) const {
        return path().string() + "//" + DatFolder(ssdid) + "/" + name;
    }
    std::vector<uint8_t> Dump(const std::string &card, const std::string &region) {
        auto r = e2e::Run(TF_SIMTOOL, {"dump", ".", card + "/0", region, "dump.bin"}, path());
        EXPECT_EQ(r.status, 0) << r.err;
        return Bytes(e2e::ReadFile(path() / "dump.bin"));
    }
    std::vector<uint8_t> pepRegion, preload27, preloadTesk, teskRegion;
};

bool Has(const std::string &out, const std::string &line) { return out.find(line) != std::string::npos; }

TEST(DataFiles, AppliedWhenNewerThenNotAgain) {
    DataScene s("dat_newer");
    const auto pep = datakit::PepFields(Pep(1, 2, 3, 5));
    const auto pre27 = datakit::PreloadFields(Preload(25, kSsdid27, 1, 2, 4));
    const auto preTesk = datakit::PreloadFields(Preload(21, kSsdidTesk, 1, 10, 0));
    std::vector<datakit::Field> teskFields;
    const auto teskExpected = datakit::TeskRegion(Tesk(3), s.teskRegion, true, &teskFields);
    s.Dat(kSsdid27, "PEP27BC.dat", DatText(pep));
    s.Dat(kSsdid27, "FWA83xxB.DAT", DatText(pre27));
    s.Dat(kSsdidTesk, "BC26xx.DAT", DatText(teskFields));
    s.Dat(kSsdidTesk, "FWA83xxB.DAT", DatText(preTesk));

    auto r = s.Tf({});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(Has(r.out, "Updating PEP Board Config of HBA instance 0 - CXR2261...Successful, please reboot for the "
                           "change to take effect.\n"))
        << r.out;
    EXPECT_TRUE(Has(r.out, "Updating Board Config parameters of HBA instance 1 - CXR8031...Success\n")) << r.out;
    EXPECT_TRUE(Has(r.out, "Updating firmware preload table of HBA instance 0 - CXR2261...Successful")) << r.out;
    EXPECT_TRUE(Has(r.out, "Updating firmware preload table of HBA instance 1 - CXR8031...Successful")) << r.out;
    EXPECT_TRUE(Has(r.out, "Info: Updates completed successfully (1 out of 1).\n")) << r.out;
    // PEP, converged, preload (in HBA list order: the 27xx card last), then
    // the adapters' own update.
    EXPECT_EQ(s.WriteList(), (std::vector<std::string>{"0:0xCF", "1:0x71", "1:0x13", "0:0x13", "2:0x07", "2:0x01"}));

    // The newer families' regions are written with the retry rule's call.
    for (const auto &w : s.Writes())
        if (w.instance < 2) {
            EXPECT_EQ(w.fn, "TvxUpdateOptionRomEx2") << w.region;
        }
    const auto cf = s.Dump("c27", "0xCF");
    EXPECT_EQ(cf, datakit::ImageOver(pep, std::vector<uint8_t>(0x20000, 0)));
    EXPECT_EQ(WordSum(cf, cf.size()), 0u);
    EXPECT_EQ(s.Dump("c27", "0x13"), datakit::ImageOver(pre27, s.preload27));
    EXPECT_EQ(s.Dump("c26", "0x13"), datakit::ImageOver(preTesk, s.preloadTesk));
    const auto area = s.Dump("c26", "0x71");
    EXPECT_EQ(area, teskExpected);
    EXPECT_EQ(WordSum(area, 0x5000), 0u);
    // The adapter's MAC table and the rest of the region beyond the area.
    EXPECT_TRUE(std::equal(area.begin() + 0x400, area.begin() + 0x480, s.teskRegion.begin() + 0x400));
    EXPECT_TRUE(std::equal(area.begin() + 0x5000, area.end(), s.teskRegion.begin() + 0x5000));

    auto pbc = s.Tf({"/pbc"});
    EXPECT_EQ(pbc.status, 0);
    EXPECT_EQ(upd::Lines(pbc.out), "HBA 0 (CXR2261): PEP board cfg version=1.2.3.5\n");

    auto again = s.Tf({});
    EXPECT_EQ(again.status, 1) << again.out;
    EXPECT_TRUE(Has(again.out, "Update not needed. The PEP board config version of HBA 0 (CXR2261) is the same as "
                               "version of this file.\n"))
        << again.out;
    // The converged board config is rebuilt whenever its file matches.
    EXPECT_EQ(s.WriteList(), (std::vector<std::string>{"1:0x71"}));
    EXPECT_EQ(s.Dump("c26", "0x71"), teskExpected);
}

TEST(DataFiles, OlderOrEqualFilesAreNotApplied) {
    struct Row {
        const char *name;
        datakit::PepOptions pep;
        std::array<uint8_t, 3> preload; // 27xx table
        const char *message;
    };
    const Row rows[] = {
        {"equal", Pep(1, 2, 3, 4), {1, 2, 3}, "is the same as version of this file."},
        {"older build", Pep(1, 2, 2, 9), {1, 2, 2}, "is newer than the version of this file."},
        {"older major", Pep(0, 9, 9, 9), {0, 9, 9}, "is newer than the version of this file."},
    };
    for (const auto &row : rows) {
        DataScene s("dat_older");
        s.Dat(kSsdid27, "PEP27BC.dat", DatText(datakit::PepFields(row.pep)));
        s.Dat(kSsdid27, "FWA83xxB.DAT",
              DatText(datakit::PreloadFields(Preload(25, kSsdid27, row.preload[0], row.preload[1], row.preload[2]))));
        auto r = s.Tf({});
        EXPECT_EQ(r.status, 0) << row.name << r.out;
        EXPECT_TRUE(Has(r.out, std::string("Update not needed. The PEP board config version of HBA 0 (CXR2261) ") +
                                   row.message))
            << row.name << r.out;
        EXPECT_FALSE(Has(r.out, "preload")) << row.name << r.out;
        EXPECT_EQ(s.WriteList(), (std::vector<std::string>{"2:0x07", "2:0x01"})) << row.name;
        EXPECT_EQ(s.Dump("c27", "0xCF"), s.pepRegion) << row.name;
    }
}

TEST(DataFiles, ForceWritesThePepFileEvenWhenEqual) {
    DataScene s("dat_force");
    auto fields = datakit::PepFields(Pep(1, 2, 3, 4));
    fields[8].text = "FORCED PEP IMAGE"; // same version, other board name
    datakit::FillFileChecksum(fields);
    s.Dat(kSsdid27, "PEP27BC.dat", DatText(fields));
    auto plain = s.Tf({});
    EXPECT_TRUE(Has(plain.out, "is the same as version of this file.")) << plain.out;
    EXPECT_EQ(s.Dump("c27", "0xCF"), s.pepRegion);
    auto forced = s.Tf({"--force"});
    EXPECT_EQ(forced.status, 1) << forced.out; // the 25xx was updated by the first run
    EXPECT_EQ(s.WriteList(), (std::vector<std::string>{"0:0xCF"}));
    EXPECT_EQ(s.Dump("c27", "0xCF"), datakit::ImageOver(fields, std::vector<uint8_t>(0x20000, 0)));
}

TEST(DataFiles, RefusedFilesWriteNothing) {
    auto wrongDevice = Pep(9, 0, 0, 0);
    wrongDevice.ssdid = 0x1234;
    auto wrongSignature = Pep(9, 0, 0, 0);
    wrongSignature.signature = 0x5F4C5450;
    auto wrongTesk = Tesk(3);
    wrongTesk.ssid[5] = 0x12345678;
    std::vector<datakit::Field> wrongTeskFields;
    datakit::TeskRegion(wrongTesk, datakit::TeskInitialRegion(Tesk(2), kTeskRegionSize), true, &wrongTeskFields);
    auto noChecksum = Preload(25, kSsdid27, 2, 0, 0);
    noChecksum.checksumLine = false;
    struct Row {
        const char *name;
        uint16_t ssdid;
        const char *file;
        std::string text;
        std::vector<std::string> args;
        std::string message; // %P: the data file's path
    };
    const std::string wide = "Too wide [0-Fh] = 1F";
    const Row rows[] = {
        {"PEP subsystem device ID",
         kSsdid27,
         "PEP27BC.dat",
         DatText(datakit::PepFields(wrongDevice)),
         {"--force"},
         "Incorrect file for HBA instance 0 - CXR2261 (ssvid or ssvid)!\n"},
        {"PEP subsystem device ID without --force",
         kSsdid27,
         "PEP27BC.dat",
         DatText(datakit::PepFields(wrongDevice)),
         {},
         "Incorrect file for HBA instance 0 - CXR2261 (ssvid or ssvid)!\n"},
        {"PEP signature",
         kSsdid27,
         "PEP27BC.dat",
         DatText(datakit::PepFields(wrongSignature)),
         {},
         "Incorrect PEP board config file for HBA instance 0 - CXR2261!\n"},
        {"preload subsystem device ID",
         kSsdid27,
         "FWA83xxB.DAT",
         DatText(datakit::PreloadFields(Preload(25, 0x1234, 2, 0, 0))),
         {},
         "Incorrect file for HBA instance 0 - CXR2261 (ssvid or ssvid)!\n"},
        {"preload of another family",
         kSsdid27,
         "FWA83xxB.DAT",
         DatText(datakit::PreloadFields(Preload(21, kSsdid27, 2, 0, 0))),
         {},
         "Incorrect input data file for HBA instance 0 - CXR2261 !\n"},
        {"Tesk SSID table",
         kSsdidTesk,
         "BC26xx.DAT",
         DatText(wrongTeskFields),
         {},
         "Incorrect Board Config file for HBA instance 1 - CXR8031!\n"},
        {"PEP value wider than its field",
         kSsdid27,
         "PEP27BC.dat",
         DatText(datakit::PepFields(Pep(9, 0, 0, 0)), {wide}),
         {"--force"},
         "Selected file has invalid data (%P)!\n"},
        {"preload without checksum line",
         kSsdid27,
         "FWA83xxB.DAT",
         DatText(datakit::PreloadFields(noChecksum)),
         {},
         "Selected file has invalid data (%P)!\n"},
        {"Tesk value wider than its field",
         kSsdidTesk,
         "BC26xx.DAT",
         DatText(wrongTeskFields, {wide}),
         {},
         "Selected file has invalid data (%P)!\n"},
        {"PEP value wider than its field without --force",
         kSsdid27,
         "PEP27BC.dat",
         DatText(datakit::PepFields(Pep(9, 0, 0, 0)), {wide}),
         {},
         "Selected file has invalid data (%P)!\n"},
        {"empty Tesk file", kSsdidTesk, "BC26xx.DAT", "", {}, "File %P appears to be corrupted!\n"},
        {"binary PEP file",
         kSsdid27,
         "PEP27BC.dat",
         std::string("\x7f"
                     "ELF\0\0\0[0-FFh] = 01\n",
                     19),
         {"--force"},
         "File %P appears to be corrupted!\n"},
    };
    for (const auto &row : rows) {
        DataScene s("dat_refused");
        s.Dat(row.ssdid, row.file, row.text);
        auto r = s.Tf(row.args);
        EXPECT_EQ(r.status, 0) << row.name << r.out;
        std::string message = row.message;
        if (size_t p = message.find("%P"); p != std::string::npos)
            message.replace(p, 2, s.DatPath(row.ssdid, row.file));
        // Reported once.
        EXPECT_EQ(upd::Count(r.out, message), 1u) << row.name << "\n" << message << "\n" << r.out;
        EXPECT_EQ(s.WriteList(), (std::vector<std::string>{"2:0x07", "2:0x01"})) << row.name;
        EXPECT_EQ(s.Dump("c27", "0xCF"), s.pepRegion) << row.name;
        EXPECT_EQ(s.Dump("c27", "0x13"), s.preload27) << row.name;
        EXPECT_EQ(s.Dump("c26", "0x71"), s.teskRegion) << row.name;
    }
}

// The data files never change the exit status: failed, refused and absent
// files give the status and 25xx writes of a host without them.
TEST(DataFiles, ExitStatusIsTheAdaptersUpdate) {
    DataScene plain("dat_plain");
    auto base = plain.Tf({});
    EXPECT_EQ(base.status, 0) << base.out;
    DataScene s("dat_failing");
    s.Dat(kSsdid27, "PEP27BC.dat", DatText(datakit::PepFields(Pep(2, 0, 0, 0))));
    s.Dat(kSsdidTesk, "BC26xx.DAT", "not a board config\n");
    s.Faults(R"({"faults":[{"op":"write","region":"0xCF","statuses":["0x20000007"]}]})");
    auto r = s.Tf({"/debug"});
    EXPECT_EQ(r.status, base.status) << r.out;
    EXPECT_TRUE(Has(r.out, "Unable to update PEP Board Config of HBA 0. Error 0x20000007")) << r.out;
    EXPECT_TRUE(Has(r.out, "Debug: UpdatePEPBoardConfigFromFileToAllHBAs() return 211\n")) << r.out;
    EXPECT_TRUE(Has(r.out, "Debug: Unable to update PEP board config!\n")) << r.out;
    EXPECT_TRUE(Has(r.out, "Debug: Unable to update board config!\n")) << r.out;
    // No preload file for either adapter: counted, not done.
    EXPECT_TRUE(Has(r.out, "Debug: UpdateFWPreloadTableToAllHBAs: Skipping Fw preload table update of HBA 0 "
                           "(CXR2261) - Found no matching file!\n"))
        << r.out;
    EXPECT_TRUE(Has(r.out, "Debug: UpdateFWPreloadTableToAllHBAs: returns 350\n")) << r.out;
    EXPECT_TRUE(Has(r.out, "Debug: Unable to update fw preload table!\n")) << r.out;
    EXPECT_TRUE(Has(r.out, "Info: Updates completed successfully (1 out of 1).\n")) << r.out;
    std::vector<std::string> adapterWrites;
    for (const auto &w : s.WriteList())
        if (w[0] == '2') adapterWrites.push_back(w);
    EXPECT_EQ(adapterWrites, (std::vector<std::string>{"2:0x07", "2:0x01"}));
    EXPECT_EQ(s.Dump("c27", "0xCF"), s.pepRegion);
}

// A power cut or a Ctrl-C between the data files' region writes: each
// region is whole, and the next run finishes the job.
TEST(DataFiles, PowerCutAndCtrlCBetweenRegionWrites) {
    struct Row {
        const char *faults;
        int status;
        size_t writes;
    };
    const Row rows[] = {
        {R"({"power_cut_after_writes": 1})", 99, 1},
        {R"({"power_cut_after_writes": 3})", 99, 3},
        {R"({"power_cut_after_writes": 4})", 99, 4},
        {R"({"interrupt_after_writes": 1})", 130, 1},
    };
    const std::vector<std::string> all = {"0:0xCF", "1:0x71", "1:0x13", "0:0x13", "2:0x07", "2:0x01"};
    for (const auto &row : rows) {
        DataScene s("dat_cut");
        const NewerFiles f = WriteNewerFiles(s.path(), InitialRegions());
        s.Faults(row.faults);
        auto cut = s.Tf({});
        EXPECT_EQ(cut.status, row.status) << row.faults << cut.out;
        EXPECT_EQ(s.WriteList(), std::vector<std::string>(all.begin(), all.begin() + row.writes)) << row.faults;
        s.Faults("{}");
        auto again = s.Tf({});
        EXPECT_EQ(again.status, 0) << row.faults << again.out;
        // Only what was not written yet (the converged config is rewritten
        // on every run).
        std::vector<std::string> rest = {"1:0x71"};
        for (size_t i = 0; i < all.size(); ++i)
            if (i >= row.writes && all[i] != "1:0x71") rest.push_back(all[i]);
        EXPECT_EQ(s.WriteList(), rest) << row.faults;
        EXPECT_EQ(s.Dump("c27", "0xCF"), datakit::ImageOver(f.pep, std::vector<uint8_t>(0x20000, 0))) << row.faults;
        EXPECT_EQ(s.Dump("c27", "0x13"), datakit::ImageOver(f.pre27, s.preload27)) << row.faults;
        EXPECT_EQ(s.Dump("c26", "0x13"), datakit::ImageOver(f.preTesk, s.preloadTesk)) << row.faults;
        EXPECT_EQ(s.Dump("c26", "0x71"), f.teskExpected) << row.faults;
    }
}

// The 25xx keeps its preload table too; its region is written with the
// plain region write, and the boot code and firmware follow as usual.
TEST(DataFiles, PreloadTableOfThe25xx) {
    upd::Scene s("dat_25xx");
    const auto flash = datakit::ImageOver(datakit::PreloadFields(Preload(12, 0x0301, 1, 2, 0)),
                                          std::vector<uint8_t>(kPreloadSize, 0xFF));
    WriteBytes(s.path() / "pre25.bin", flash);
    const std::string host = upd::Host({R"({"name": "c25", "device_id": "0x2532", "subsys_vendor": "0x1D7A",
      "subsys_device": "0x0301", "model": "CXR2532-2P", "serial": "S25", "chips": [{"flash_size": "0x100000",
      "ports": [{}, {}], "regions": [
      {"code": "0x07", "size": "0x40000", "offset": "0", "boot": {"bios": "3.10", "fcode": "4.01", "efi": "6.00",
       "device_id": "0x2532"}},
      {"code": "0x13", "size": "0x1000", "offset": "0x50000", "file": "pre25.bin"},
      {"code": "0x01", "size": "0x40000", "offset": "0x80000", "firmware": {"version": "8.1.0", "chip": "2532",
       "mbi": "3.0.0"}},
      {"code": "0xFF"}]}]})"});
    s.Files(host, kTable, upd::kControl25);
    s.Kit({"multiboot", "--chip", "2532", "mbi25.bin"});
    const auto fields = datakit::PreloadFields(Preload(12, 0x0301, 1, 10, 0));
    fs::create_directories(s.path() / "x1D7Ax0301");
    e2e::WriteFile(s.path() / "x1D7Ax0301" / "FWA83xxB.DAT", DatText(fields));
    auto r = s.Tf({});
    EXPECT_EQ(r.status, 0) << r.out;
    // Port 2 finds the table as new as the file.
    EXPECT_EQ(upd::Count(r.out, "Updating firmware preload table of HBA instance"), 1u) << r.out;
    const auto writes = s.Writes();
    ASSERT_EQ(s.WriteList(), (std::vector<std::string>{"0:0x13", "0:0x07", "0:0x01"}));
    EXPECT_EQ(writes[0].fn, "TvxUpdateOptionRomEx");
    auto dump = e2e::Run(TF_SIMTOOL, {"dump", ".", "c25/0", "0x13", "dump.bin"}, s.path());
    ASSERT_EQ(dump.status, 0) << dump.err;
    EXPECT_EQ(Bytes(e2e::ReadFile(s.path() / "dump.bin")), datakit::ImageOver(fields, flash));
}

// A 28xx takes the PEP file but has no PEP board config to compare or
// write: not applied, with or without --force.
TEST(DataFiles, PepFileOnA28xxIsNeverWritten) {
    upd::Scene s("dat_28xx");
    WriteBytes(s.path() / "pep_cf.bin",
               datakit::ImageOver(datakit::PepFields(Pep(1, 0, 0, 0)), std::vector<uint8_t>(0x20000, 0)));
    s.Files(upd::Host({R"({"name": "c28", "device_id": "0x2281", "subsys_vendor": "0x1D7A",
      "subsys_device": "0x0501", "model": "CXR2281", "serial": "S28", "chips": [{"ports": [{}], "regions": [
      {"code": "0xCF", "size": "0x20000", "file": "pep_cf.bin"}, {"code": "0xFF"}]}]})"}),
            kTable, upd::kControl25);
    fs::create_directories(s.path() / "x1D7Ax0501");
    e2e::WriteFile(s.path() / "x1D7Ax0501" / "PEP27BC.dat", DatText(datakit::PepFields(Pep(2, 0, 0, 0))));
    auto plain = s.Tf({});
    EXPECT_TRUE(s.Writes().empty());
    EXPECT_TRUE(Has(plain.out, "\nUpdate not needed. The PEP board config version of HBA 0 (CXR2281) is newer than "
                               "the version of this file.\n"))
        << plain.out;
    auto forced = s.Tf({"--force"});
    EXPECT_TRUE(Has(forced.out, "\nUnable to continue. File validation failed (")) << forced.out;
    EXPECT_TRUE(s.Writes().empty());
}

// An inbox driver: each run that takes the adapter refuses it (PEP and
// preload), the adapter's data files are not looked at.
TEST(DataFiles, InboxDriverIsRefused) {
    DataScene s("dat_inbox", R"({"node": {"driver_version": "9.1.4.6"}})");
    s.Dat(kSsdid27, "PEP27BC.dat", DatText(datakit::PepFields(Pep(2, 0, 0, 0))));
    s.Dat(kSsdid27, "FWA83xxB.DAT", DatText(datakit::PreloadFields(Preload(25, kSsdid27, 2, 0, 0))));
    auto r = s.Tf({"/debug"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(upd::Count(r.out, "\nCommand aborted! Please update existing driver (9.1.4.6) and try again.\n"), 2u)
        << r.out;
    EXPECT_TRUE(Has(r.out, "Debug: UpdatePEPBoardConfigFromFileToAllHBAs: returns 211\n")) << r.out;
    EXPECT_EQ(s.WriteList(), (std::vector<std::string>{"2:0x07", "2:0x01"}));
}

TEST(DataFiles, PbcShowsEachPepAdapter) {
    DataScene s("dat_pbc");
    auto r = s.Tf({"/pbc"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(upd::Lines(r.out), "HBA 0 (CXR2261): PEP board cfg version=1.2.3.4\n");
    // A region whose words do not sum to zero holds no readable version.
    auto broken = s.pepRegion;
    broken[0x100] = 1;
    WriteBytes(s.path() / "pep_cf.bin", broken);
    auto bad = s.Tf({"/pbc"});
    EXPECT_EQ(upd::Lines(bad.out), "Unable to read PEP board cfg version of HBA instance 0 CXR2261\n");
    EXPECT_EQ(bad.status, 22); // the status of the last HBA of the list, the 27xx
    // Nor is a file version compared with it: the file is not applied.
    s.Dat(kSsdid27, "PEP27BC.dat", DatText(datakit::PepFields(Pep(9, 0, 0, 0))));
    auto run = s.Tf({});
    EXPECT_TRUE(Has(run.out, "is newer than the version of this file.")) << run.out;
    EXPECT_EQ(s.Dump("c27", "0xCF"), broken);
}

// A data file whose subsystem ID fields hold 0 takes the adapter's IDs,
// which the build reads from NVRAM right before the region is rebuilt.
// When that read fails, the IDs are unknown: the file is refused and the
// region keeps its contents, rather than getting IDs of 0.
TEST(DataFiles, UnreadableAdapterIdsAreNeverStamped) {
    auto pep = Pep(2, 0, 0, 0);
    pep.ssvid = 0;
    pep.ssdid = 0;
    auto preload = Preload(25, 0, 2, 0, 0);
    preload.ssvid = 0;
    struct Row {
        const char *name;
        const char *file;
        std::vector<datakit::Field> fields;
        const char *region;
        const char *success;
    };
    const Row rows[] = {
        {"pep", "PEP27BC.dat", datakit::PepFields(pep), "0xCF", "Updating PEP Board Config of HBA instance 0"},
        {"preload", "FWA83xxB.DAT", datakit::PreloadFields(preload), "0x13",
         "Updating firmware preload table of HBA instance 0"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        DataScene s(std::string("dat_ids_") + row.name);
        s.Dat(kSsdid27, row.file, DatText(row.fields));
        const std::vector<uint8_t> before = s.Dump("c27", row.region);
        // The fault-free run, every call journaled: the last vendor ID read
        // of the 27xx before its region is written.
        std::string host = e2e::ReadFile(s.path() / "host.json");
        host.insert(host.find('{') + 1, R"("journal_all": true, )");
        e2e::WriteFile(s.path() / "host.json", host);
        auto clean = s.Tf({"--force"});
        ASSERT_TRUE(Has(clean.out, row.success)) << clean.out;
        std::stringstream journal(e2e::ReadFile(s.path() / "journal.jsonl"));
        int reads = 0, lastVendorRead = -1;
        for (std::string line; std::getline(journal, line);) {
            if (upd::Field(line, "op") == "write" && upd::Field(line, "instance") == "0" &&
                upd::Field(line, "region") == row.region)
                break;
            if (upd::Field(line, "fn") != "TvxGetVariableValue" || upd::Field(line, "instance") != "0") continue;
            if (std::stoul(upd::Field(line, "param"), nullptr, 0) == 127) lastVendorRead = reads;
            ++reads;
        }
        ASSERT_GE(lastVendorRead, 0);

        // That read fails; a fresh copy of the region is written back first.
        WriteBytes(s.path() / (std::string(row.region) == "0xCF" ? "pep_cf.bin" : "pre27.bin"), before);
        std::filesystem::remove_all(s.path() / "state");
        s.Faults(R"({"faults": [{"op": "TvxGetVariableValue", "instance": 0, "skip": )" +
                 std::to_string(lastVendorRead) + R"(, "statuses": ["0x20000001"]}]})");
        auto r = s.Tf({"--force"});
        EXPECT_FALSE(Has(r.out, std::string(row.success) + " - CXR2261...Successful")) << r.out;
        EXPECT_EQ(s.Dump("c27", row.region), before);
    }
}

} // namespace
