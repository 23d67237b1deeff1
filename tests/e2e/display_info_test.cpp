// Adapter information (/i) and multi-boot image version (/q) displays end to
// end: exact blocks, the lines each family adds, N/A rules, versions read
// from a multi-boot image built with the image kit.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "inv_hosts.h"

namespace {

// Builds a 25xx multi-boot image with the image kit and splits it into the
// boot region (first 256 KB) and region 1 (from 0x80000) files of a chip.
void MakeMultibootRegions(const std::filesystem::path &dir, const std::string &mbi) {
    auto r = e2e::Run(TF_IMAGEKIT,
                      {"multiboot", "--chip", "2532", "--mbi", mbi, "--bios", "3.28", "--fcode", "4.03", "--efi",
                       "6.01", "--fw", "8.2.1", "mbi.bin"},
                      dir);
    ASSERT_EQ(r.status, 0) << r.err;
    std::string image = e2e::ReadFile(dir / "mbi.bin");
    ASSERT_EQ(image.size(), 0x100000u);
    e2e::WriteFile(dir / "boot.bin", image.substr(0, 0x40000));
    e2e::WriteFile(dir / "fw.bin", image.substr(0x80000));
}

const char *kFlashHost = R"({
 "faults": [{"op": "read", "instance": 3, "region": 1, "statuses": ["0x20000006"], "then": "0x20000006"}],
 "cards": [
 {"name": "c23", "device_id": "0x2312", "subsys_device": "0x0100", "chips": [{"ports": [
   {"node": {"serial_bytes": "033039"}, "port": {"mode": 2, "speed": 2}}]}]},
 {"name": "c25", "serial": "RFD2532", "chips": [{"regions": [
      {"code": "0x07", "size": "0x40000", "file": "boot.bin"},
      {"code": "0x01", "size": "0x80000", "file": "fw.bin"}], "ports": [{}, {}]}]},
 {"name": "rd", "serial": "RFDREAD", "chips": [{"regions": [
      {"code": "0x07", "size": "0x40000", "file": "boot.bin"},
      {"code": "0x01", "size": "0x80000", "file": "fw.bin"}], "ports": [{}]}]},
 {"name": "c24", "device_id": "0x2432", "subsys_device": "0x0138", "serial": "RFD2432", "chips": [{"ports": [{}]}]}
]})";

TEST(DisplayInfo, ExactBlocksOf23xxAnd25xx) {
    inv::Host host("dispinfo", kFlashHost);
    MakeMultibootRegions(host.path(), "3.10.5");
    auto blocks = inv::Blocks(host.Output({"/i"}, 0));
    ASSERT_EQ(blocks.size(), 5u);
    // Order of the HBA list: by serial number, then by WWPN.
    const std::vector<std::string> c23 = {
        "HBA Instance                   : 0",
        "HBA Model                      : CXR2312",
        "HBA Description                : Orvane 2312 single",
        "HBA ID                         : 0-CXR2312",
        "HBA Port                       : 1",
        "Node Name                      : 20-00-00-1D-7A-00-00-00",
        "Port Name                      : 21-00-00-1D-7A-00-00-00",
        "Port ID                        : 01-10-00",
        "Serial Number                  : C11248",
        "Driver Version                 : STOR Miniport 9.2.3.20",
        "BIOS Version                   : N/A",
        "Firmware Version               : 0.00.00",
        "Actual Connection Mode         : Loop",
        "Actual Data Rate               : 2 Gbps",
        "Device CXR ID                  : CXR2312",
        "PortType (Topology)            : NLPort",
        "Target Count                   : 0",
        "PCI Bus Number                 : 1",
        "PCI Device Number              : 0",
        "PCI Device Number              : 0",
        "Subsystem Vendor ID            : 0x1d7a",
        "Subsystem Device ID            : 0x0100",
        "HBA Status                     : Online",
    };
    std::vector<std::string> got(blocks[0].begin() + 1, blocks[0].end());
    EXPECT_EQ(blocks[0][0].rfind("Host Name                      : ", 0), 0u);
    EXPECT_EQ(got, c23);

    const std::vector<std::string> c25port2 = {
        "HBA Instance                   : 2",
        "HBA Model                      : CXR2532",
        "HBA Description                : Orvane 2532 dual",
        "HBA ID                         : 2-CXR2532",
        "HBA Port                       : 2",
        "Node Name                      : 20-00-00-1D-7A-01-00-01",
        "Port Name                      : 21-00-00-1D-7A-01-00-01",
        "Port ID                        : 01-11-01",
        "Serial Number                  : RFD2532",
        "Driver Version                 : STOR Miniport 9.2.3.20",
        "BIOS Version                   : 3.28",
        "Firmware Version               : 8.02.01",
        "Flash BIOS Version             : 3.28",
        "Flash FCode Version            : 4.03",
        "Flash EFI Version              : 6.01",
        "Flash Firmware Version         : 8.02.01",
        "Actual Connection Mode         : Point to Point",
        "Actual Data Rate               : 8 Gbps",
        "Device CXR ID                  : CXR2532",
        "PortType (Topology)            : NPort",
        "Target Count                   : 0",
        "PCI Bus Number                 : 2",
        "PCI Device Number              : 1",
        "PCI Device Number              : 1",
        "Subsystem Vendor ID            : 0x1d7a",
        "Subsystem Device ID            : 0x0301",
        "PCIe Max Bus Width             : x8",
        "PCIe Negotiated Width          : x8",
        "PCIe Max Bus Speed             : 5.0 Gbps",
        "PCIe Negotiated Speed          : 5.0 Gbps",
        "HBA Status                     : Online",
    };
    got.assign(blocks[3].begin() + 1, blocks[3].end());
    EXPECT_EQ(got, c25port2);
    // 24xx: all flash versions missing.
    EXPECT_EQ(inv::Value(blocks[1], "Serial Number"), "RFD2432");
    for (const char *label :
         {"BIOS Version", "Flash BIOS Version", "Flash FCode Version", "Flash EFI Version", "Flash Firmware Version"})
        EXPECT_EQ(inv::Value(blocks[1], label), "N/A") << label;
}

TEST(DisplayInfo, MultibootVersionOrNA) {
    inv::Host host("dispmbi", kFlashHost);
    MakeMultibootRegions(host.path(), "3.10.5");
    auto lines = host.Output({"/q"}, 0);
    const std::vector<std::string> expected = {
        inv::kDashes,
        "HBA Instance                   : 0",
        "HBA Model                      : CXR2312",
        "Port Name                      : 21-00-00-1D-7A-00-00-00",
        "Flash Image (MBI) Version      : N/A",
        inv::kDashes,
        "HBA Instance                   : 4",
        "HBA Model                      : CXR2432",
        "Port Name                      : 21-00-00-1D-7A-03-00-00",
        "Flash Image (MBI) Version      : N/A",
        inv::kDashes,
        "HBA Instance                   : 1",
        "HBA Model                      : CXR2532",
        "Port Name                      : 21-00-00-1D-7A-01-00-00",
        "Flash Image (MBI) Version      : 03.10.05",
        inv::kDashes,
        "HBA Instance                   : 2",
        "HBA Model                      : CXR2532",
        "Port Name                      : 21-00-00-1D-7A-01-00-01",
        "Flash Image (MBI) Version      : 03.10.05",
        inv::kDashes,
        // Region 1 unreadable: no version.
        "HBA Instance                   : 3",
        "HBA Model                      : CXR2532",
        "Port Name                      : 21-00-00-1D-7A-02-00-00",
        "Flash Image (MBI) Version      : N/A",
    };
    EXPECT_EQ(lines, expected);

    // A version block without its signature reads as no version.
    auto r = e2e::Run(TF_IMAGEKIT, {"multiboot", "--chip", "2532", "--corrupt", "bad-mbv", "mbi.bin"}, host.path());
    ASSERT_EQ(r.status, 0);
    std::string image = e2e::ReadFile(host.path() / "mbi.bin");
    e2e::WriteFile(host.path() / "fw.bin", image.substr(0x80000));
    std::filesystem::remove_all(host.path() / "state");
    auto blocks = inv::Blocks(host.Output({"/q"}, 0));
    ASSERT_EQ(blocks.size(), 5u);
    EXPECT_EQ(inv::Value(blocks[2], "Flash Image (MBI) Version"), "N/A");
    EXPECT_EQ(inv::Value(blocks[3], "Flash Image (MBI) Version"), "N/A");
}

// Lines that only some families show: FCoE engine twin, ENode MAC address,
// chip revision, running and flash MPI/PEP versions, FEC status.
TEST(DisplayInfo, FamilyLines) {
    inv::Host host("dispfam", R"({"cards": [
 {"name": "cna", "device_id": "0x8432", "subsys_device": "0x010E", "subsys_vendor": "0x1077", "serial": "CNA8432",
  "chips": [{"ports": [{}]}]},
 {"name": "c81", "device_id": "0x8001", "serial": "CNA8001",
  "chips": [{"ports": [{"pci": {"chip_type": 2}, "nvram1": {"bytes": {"64": "00c0dd112233"}}}]}]},
 {"name": "fen", "device_id": "0x2071", "subsys_device": "0x0292", "subsys_vendor": "0x1077", "serial": "FEN2071",
  "chips": [{"ports": [{"node": {"running_mpi": "255.255.0", "running_pep": "1.2.3", "flash_mpi": "2.3.4",
                                 "firmware_version": "8.02.00"},
                        "port": {"link_state3": 32768, "speed": 22}}]}]}
]})");
    auto blocks = inv::Blocks(host.Output({"/i"}, 0));
    ASSERT_EQ(blocks.size(), 4u);
    // The physical port comes first, then its FCoE engine record.
    EXPECT_EQ(inv::Value(blocks[1], "HBA Model"), "CXR8432");
    EXPECT_EQ(inv::Value(blocks[2], "CNA Model"), "CXR8432");
    EXPECT_EQ(inv::Value(blocks[2], "HBA Port"), "1");
    EXPECT_EQ(inv::Value(blocks[2], "HBA Description"), "Orvane 8432 CNA");
    EXPECT_EQ(inv::Value(blocks[1], "Flash Firmware Version"), "N/A");
    EXPECT_EQ(inv::Value(blocks[1], "PCIe Max Bus Width"), "x8");

    const auto &c81 = blocks[0];
    EXPECT_EQ(inv::Value(c81, "ENode MAC Address"), "00:C0:DD:11:22:33");
    EXPECT_EQ(inv::Value(c81, "Chip Revision"), "0x2(A1)");
    auto labels = inv::Labels(c81);
    const std::vector<std::string> c81Labels = {"Host Name",
                                                "HBA Instance",
                                                "HBA Model",
                                                "HBA Description",
                                                "HBA ID",
                                                "HBA Port",
                                                "Node Name",
                                                "Port Name",
                                                "ENode MAC Address",
                                                "Port ID",
                                                "Serial Number",
                                                "Driver Version",
                                                "BIOS Version",
                                                "Firmware Version",
                                                "Flash BIOS Version",
                                                "Flash FCode Version",
                                                "Flash EFI Version",
                                                "Flash Firmware Version",
                                                "Actual Connection Mode",
                                                "Actual Data Rate",
                                                "Device CXR ID",
                                                "Chip Revision",
                                                "PortType (Topology)",
                                                "Target Count",
                                                "PCI Bus Number",
                                                "PCI Device Number",
                                                "PCI Device Number",
                                                "Subsystem Vendor ID",
                                                "Subsystem Device ID",
                                                "PCIe Max Bus Width",
                                                "PCIe Negotiated Width",
                                                "PCIe Max Bus Speed",
                                                "PCIe Negotiated Speed",
                                                "HBA Status"};
    EXPECT_EQ(labels, c81Labels);

    const auto &fen = blocks[3];
    EXPECT_EQ(inv::Value(fen, "Running MPI Firmware Version"), "Not Running");
    EXPECT_EQ(inv::Value(fen, "Running PEP Firmware Version"), "1.02.03");
    EXPECT_EQ(inv::Value(fen, "Flash MPI Firmware Version"), "2.03.04");
    EXPECT_EQ(inv::Value(fen, "Flash PEP Firmware Version"), "N/A");
    EXPECT_EQ(inv::Value(fen, "Actual Data Rate"), "16 Gbps");
    EXPECT_EQ(inv::Value(fen, "Chip Revision"), "0x54(B0)");
    EXPECT_EQ(inv::Value(fen, "HBA Status"), "Online (FEC)");
    labels = inv::Labels(fen);
    auto at = [&](const std::string &l) { return std::find(labels.begin(), labels.end(), l) - labels.begin(); };
    EXPECT_LT(at("BIOS Version"), at("Running MPI Firmware Version"));
    EXPECT_LT(at("Running PEP Firmware Version"), at("Firmware Version"));
    EXPECT_LT(at("Flash Firmware Version"), at("Flash MPI Firmware Version"));
    EXPECT_LT(at("Flash PEP Firmware Version"), at("Actual Connection Mode"));

    // /q of the engine twin and a converged port: no multi-boot version.
    auto q = inv::Blocks(host.Output({"/q"}, 0));
    ASSERT_EQ(q.size(), 4u);
    for (auto &b : q)
        EXPECT_EQ(inv::Value(b, "Flash Image (MBI) Version"), "N/A");
}

// PCI location lines (device number from slot bits 0-3, then the function
// from bits 5-7) and the PCIe width and speed fields of the link words.
TEST(DisplayInfo, PciLocationAndLinkLines) {
    inv::Host host("disppci", R"({"cards": [
 {"name": "c25", "serial": "RFDPCI", "chips": [{"ports": [
   {"pci": {"slot": 95, "link_cap": 260, "link_stat": 1013}},
   {"pci": {"slot": 227, "link_cap": 51, "link_stat": 17}}]}]}
]})");
    auto blocks = inv::Blocks(host.Output({"/i"}, 0));
    ASSERT_EQ(blocks.size(), 2u);
    struct {
        const char *device, *function, *maxWidth, *width, *maxSpeed, *speed;
    } expected[] = {
        // slot 0x5F: bit 4 is no part of the device number; function 2.
        // cap 0x104: x16 at 16.0 Gbps; stat 0x3F5: width 63, speed 5.
        {"15", "2", "x16", "Unknown Width", "16.0 Gbps", "Unknown Speed"},
        // slot 0xE3: device 3, function 7; cap 0x33: width 3; stat 0x11.
        {"3", "7", "Unknown Width", "x1", "8.0 Gbps", "2.5 Gbps"},
    };
    for (size_t i = 0; i < 2; ++i) {
        const auto &b = blocks[i];
        const auto &e = expected[i];
        EXPECT_EQ(inv::Value(b, "PCI Device Number", 0), e.device) << i;
        EXPECT_EQ(inv::Value(b, "PCI Device Number", 1), e.function) << i;
        EXPECT_EQ(inv::Value(b, "PCIe Max Bus Width"), e.maxWidth) << i;
        EXPECT_EQ(inv::Value(b, "PCIe Negotiated Width"), e.width) << i;
        EXPECT_EQ(inv::Value(b, "PCIe Max Bus Speed"), e.maxSpeed) << i;
        EXPECT_EQ(inv::Value(b, "PCIe Negotiated Speed"), e.speed) << i;
    }
}

// Converged adapters keep their multi-boot version in the VPD: "VV", else
// "RM", else "V9"; only the digits count, two per part.
TEST(DisplayInfo, MultibootVersionFromVpd) {
    inv::Host host("dispvpd", R"({"cards": [
 {"name": "vv", "device_id": "0x8432", "serial": "CNA1",
  "chips": [{"vpd": {"id": "X", "ro": {"SN": "CNA1", "VV": "3.2.1", "RM": "01.01.01"}}, "ports": [{}]}]},
 {"name": "rm", "device_id": "0x8432", "serial": "CNA2",
  "chips": [{"vpd": {"id": "X", "ro": {"SN": "CNA2", "RM": "03.10.05", "V9": "01.01.01"}}, "ports": [{}]}]},
 {"name": "v9", "device_id": "0x8432", "serial": "CNA3",
  "chips": [{"vpd": {"id": "X", "ro": {"SN": "CNA3", "V9": "v04.00.12"}}, "ports": [{}]}]},
 {"name": "none", "device_id": "0x8432", "serial": "CNA4",
  "chips": [{"vpd": {"id": "X", "ro": {"SN": "CNA4", "V3": "08.07.12"}}, "ports": [{}]}]}
]})");
    auto blocks = inv::Blocks(host.Output({"/q"}, 0));
    ASSERT_EQ(blocks.size(), 4u);
    std::vector<std::string> versions;
    for (auto &b : blocks)
        versions.push_back(inv::Value(b, "Flash Image (MBI) Version"));
    EXPECT_EQ(versions, (std::vector<std::string>{"32.01.00", "03.10.05", "04.00.12", "N/A"}));
}

// A firmware region too short to hold the version block at 0x3FFC0 reads as
// a block without the signature; the 24xx region is read at its own size.
TEST(DisplayInfo, ShortFirmwareRegionHasNoVersion) {
    inv::Host host("dispshort", R"({"cards": [
 {"name": "c25", "serial": "RFDSHORT", "chips": [{"regions": [
      {"code": "0x07", "size": "0x40000", "file": "boot.bin"},
      {"code": "0x01", "size": "0x3FFF0", "file": "fw.bin"}], "ports": [{}]}]}
]})");
    MakeMultibootRegions(host.path(), "3.10.5");
    // The first 0x3FFF0 bytes of region 1, signature block cut off half way.
    e2e::WriteFile(host.path() / "fw.bin", e2e::ReadFile(host.path() / "fw.bin").substr(0, 0x3FFF0));
    auto blocks = inv::Blocks(host.Output({"/q"}, 0));
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(inv::Value(blocks[0], "Flash Image (MBI) Version"), "N/A");
}

} // namespace
