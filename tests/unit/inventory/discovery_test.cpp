// Discovery against simulated hosts, in-process.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/settings.h"
#include "inventory/bootsan.h"
#include "inventory/cxrtype.h"
#include "inventory/invutil.h"
#include "inventory/prefs.h"
#include "inventory/targets.h"
#include "inventory/tvxdevice.h"
#include "oss/oss.h"
#include "testutil.h"

extern "C" void TvxSimReset(void);
extern "C" TVX_STATUS TvxSimGetLoadError(char *text, uint32_t size);

namespace {

class Discovery : public ::testing::Test {
  protected:
    void Load(const std::string &hostJson, const std::string &table) {
        std::string host = dir_.Write("host.json", hostJson);
        dir_.Write("adapters.properties", table);
        setenv("TORVEX_SIM_HOST", host.c_str(), 1);
        TvxSimReset();
        CopyText(g_szConfigPath, sizeof g_szConfigPath, dir_.dir().c_str());
        CoreInitialize();
        CoreOSSInitializeDevices();
        BuildHBADevices();
        char err[256] = {};
        TvxSimGetLoadError(err, sizeof err);
        ASSERT_STREQ(err, "");
    }
    void TearDown() override {
        CoreReleaseDevices();
        unsetenv("TORVEX_SIM_HOST");
        TvxSimReset();
    }
    struct Port {
        uint32_t instance;
        uint32_t port;
        std::string serial;
        uint32_t enable;
    };
    std::vector<Port> HbaPorts() {
        std::vector<Port> out;
        for (TVXDevice *r = g_HBAList.first; r != nullptr; r = r->next) {
            AdapterEntry *e = FindAdapterEntryForDevice(r);
            out.push_back({r->instance, r->physicalPort, e ? e->serialNo : "?", e ? e->enableStatus : 99});
        }
        return out;
    }
    invtest::TempDir dir_;
};

const char *kTable = "0x0301,0x1D7A,CXR2532,Orvane 2532,TRUE\n";

TEST_F(Discovery, CardsAndPortNumbers) {
    Load(R"({"cards": [
        {"name": "two", "serial": "RFD0001", "chips": [{"ports": [{}, {}]}]},
        {"name": "four", "serial": "RFD0002", "chips": [{"ports": [{}, {}]}, {"ports": [{}, {}]}]}
    ]})",
         kTable);
    auto ports = HbaPorts();
    ASSERT_EQ(ports.size(), 6u);
    std::vector<uint32_t> numbers;
    for (auto &p : ports) {
        numbers.push_back(p.port);
        EXPECT_EQ(p.enable, 1u);
    }
    EXPECT_EQ(ports[0].serial, "RFD0001");
    EXPECT_EQ(ports[2].serial, "RFD0002");
    EXPECT_EQ(numbers, (std::vector<uint32_t>{1, 2, 1, 2, 3, 4}));
    for (TVXDevice *r = g_HBAList.first; r != nullptr; r = r->next) {
        EXPECT_EQ(CountAdapterPorts(r), r->instance < 2 ? 2 : 4);
        int code = CheckPortUpdateOption(r);
        static const int kExpected[] = {0, 1, 2, 10, 4};
        EXPECT_EQ(code, kExpected[r->physicalPort]) << r->instance;
    }
}

TEST_F(Discovery, DuplicatesAndZeroWWNsStayOutOfTheHBAList) {
    Load(R"({"cards": [
        {"name": "a", "serial": "RFD0001", "chips": [{"ports": [
            {"node": {"wwn": "2000001d7a000001"}, "port": {"wwn": "2100001d7a000001"}},
            {"node": {"wwn": "0000000000000000"}, "port": {"wwn": "0000000000000000"}}]}]},
        {"name": "b", "serial": "RFD0002", "chips": [{"ports": [
            {"node": {"wwn": "2000001d7a000001"}, "port": {"wwn": "2100001d7a000001"}}]}]}
    ]})",
         kTable);
    EXPECT_EQ(g_DeviceList.count, 2u); // the duplicate is closed, the zero-WWN port stays open
    ASSERT_EQ(g_HBAList.count, 1u);
    EXPECT_EQ(g_AdapterList.count, 1u);
    EXPECT_EQ(g_HBAList.first->instance, 0u);
}

TEST_F(Discovery, ApiPortNumberWinsAndConvergedPortsKeepTheirs) {
    Load(R"({"cards": [
        {"name": "fc", "serial": "RFD0001", "chips": [{"ports": [{}, {"pci": {"api_port": 3}}]}]},
        {"name": "cna", "device_id": 32801, "serial": "RFD0002",
         "chips": [{"ports": [{}, {}]}, {"ports": [{}, {}]}]}
    ]})",
         kTable);
    std::vector<uint32_t> numbers;
    for (auto &p : HbaPorts())
        numbers.push_back(p.port);
    EXPECT_EQ(numbers, (std::vector<uint32_t>{1, 3, 1, 2, 1, 2}));
    for (TVXDevice *r = g_HBAList.first; r != nullptr; r = r->next)
        if (GetCxrType(r) == 17)
            EXPECT_EQ(IsConfigureToBootFromSAN(r), 1);
        else
            EXPECT_EQ(IsConfigureToBootFromSAN(r), 0); // family below 15
}

TEST_F(Discovery, FCoEEngineTwinOnEveryOtherDevice) {
    Load(R"({"cards": [
        {"name": "cna", "device_id": 33842, "subsys_device": 270, "subsys_vendor": 4215, "serial": "RFD0003",
         "chips": [{"ports": [{}, {}]}, {"ports": [{}, {}]}]}
    ]})",
         "0x010E,0x1077,CXR8432,CNA,TRUE\n");
    int engines = 0;
    for (TVXDevice *r = g_HBAList.first; r != nullptr; r = r->next)
        if (r->nodeProperty.InterfaceKind == TVX_INTERFACE_FCOE_ENGINE) {
            ++engines;
            EXPECT_TRUE(r->instance == 0 || r->instance == 2) << r->instance;
            EXPECT_EQ(CheckAdapterFlashUpdateStatus(r), 7);
        }
    EXPECT_EQ(engines, 2);
    EXPECT_EQ(g_HBAList.count, 6u);
    EXPECT_EQ(g_AdapterList.count, 4u);
}

TEST_F(Discovery, SerialFromVpdOrFromNodeBytes) {
    Load(R"({"cards": [
        {"name": "old", "device_id": 8978, "serial": "RFD0009",
         "chips": [{"ports": [{"node": {"serial_bytes": "033039"}}]}]},
        {"name": "new", "serial": "RFD0010", "chips": [{"ports": [{"node": {"serial_bytes": "033039"}}]}]}
    ]})",
         kTable);
    auto ports = HbaPorts();
    ASSERT_EQ(ports.size(), 2u);
    std::vector<std::string> serials = {ports[0].serial, ports[1].serial};
    std::sort(serials.begin(), serials.end());
    EXPECT_EQ(serials, (std::vector<std::string>{"C11248", "RFD0010"}));
    for (TVXDevice *r = g_HBAList.first; r != nullptr; r = r->next) {
        EXPECT_EQ(CountAdapterPorts(r), 1);
        EXPECT_EQ(CheckPortUpdateOption(r), 1);
    }
}

TEST_F(Discovery, UnsupportedWithoutTableRow) {
    Load(R"({"cards": [{"name": "a", "subsys_device": 2, "chips": [{"ports": [{}]}]}]})", kTable);
    ASSERT_EQ(g_HBAList.count, 1u);
    EXPECT_EQ(CheckAdapterFlashUpdateStatus(g_HBAList.first), 6);
}

TEST_F(Discovery, OpenRetryRule) {
    g_bDebug = 1;
    testing::internal::CaptureStdout();
    Load(R"({"cards": [
        {"name": "a", "serial": "RFD0001", "chips": [{"ports": [{"open": "unsupported"}, {"open": "not_ready"}]}]},
        {"name": "b", "serial": "RFD0002", "chips": [{"ports": [{}]}]}
    ]})",
         kTable);
    std::string out = testing::internal::GetCapturedStdout();
    g_bDebug = 0;
    size_t sleeps = 0;
    for (size_t pos = out.find("OSSSleep: 5000 ms"); pos != std::string::npos;
         pos = out.find("OSSSleep: 5000 ms", pos + 1))
        ++sleeps;
    EXPECT_EQ(sleeps, 6u); // one instance used the waits; the next not-ready one gets none
    ASSERT_EQ(g_DeviceList.count, 1u);
    EXPECT_EQ(g_DeviceList.first->instance, 2u);
}

// Update option codes of every kind of card, in HBA list order.
TEST_F(Discovery, UpdateOptionCodes) {
    struct Case {
        const char *name;
        const char *card; // one card of the host
        bool ia64;
        std::vector<int> codes; // CheckPortUpdateOption per HBA list record
    };
    const Case cases[] = {
        {"0x1137 four-port",
         R"("subsys_device": "0x004A", "subsys_vendor": "0x1137", "serial": "RFD1137",
          "chips": [{"ports": [{}, {}]}, {"ports": [{}, {}]}])",
         false,
         {1, 8, 3, 9}},
        {"older, OEM class 0", R"("device_id": "0x2312", "chips": [{"ports": [{}, {}]}])", false, {1, 1}},
        {"older, OEM class 1",
         R"("device_id": "0x2312", "subsys_device": "0x027D", "subsys_vendor": "0x1014",
          "chips": [{"ports": [{}, {}]}])",
         false,
         {1, 2}},
        {"older, OEM class 2",
         R"("device_id": "0x2312", "subsys_device": "0x0170", "subsys_vendor": "0x1028",
          "chips": [{"ports": [{}, {}]}])",
         false,
         {2, 1}},
        {"older, OEM class 3",
         R"("device_id": "0x2312", "subsys_device": "0x0134", "subsys_vendor": "0x1077",
          "chips": [{"ports": [{}, {}]}])",
         false,
         {6, 6}},
        {"older on IA64",
         R"("device_id": "0x2312", "subsys_device": "0x027D", "subsys_vendor": "0x1014",
          "chips": [{"ports": [{}, {}]}])",
         true,
         {5, 5}},
        {"later on IA64", R"("serial": "RFD0001", "chips": [{"ports": [{}, {}]}])", true, {1, 2}},
    };
    char savedOs[sizeof g_HostIdent.osType];
    std::memcpy(savedOs, g_HostIdent.osType, sizeof savedOs);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        CopyText(g_HostIdent.osType, sizeof g_HostIdent.osType, c.ia64 ? "Windows Server 2003 IA64" : "Windows");
        Load(std::string(R"({"cards": [{"name": "c", )") + c.card + "}]}", kTable);
        std::vector<int> codes;
        for (TVXDevice *r = g_HBAList.first; r != nullptr; r = r->next)
            codes.push_back(CheckPortUpdateOption(r));
        EXPECT_EQ(codes, c.codes);
        CoreReleaseDevices();
    }
    std::memcpy(g_HostIdent.osType, savedOs, sizeof savedOs);
}

// A port missing from the HBA list is not updated; a 2431 chip of a later
// family is not updated even when the table supports it.
TEST_F(Discovery, PortsThatAreNotUpdated) {
    Load(R"({"cards": [
        {"name": "a", "device_id": "0x2431", "serial": "RFD2431", "chips": [{"ports": [{}, {}]}]},
        {"name": "b", "serial": "RFD0002", "chips": [{"ports": [{}, {}]}]}
    ]})",
         kTable);
    ASSERT_EQ(g_HBAList.count, 4u);
    for (TVXDevice *r = g_HBAList.first; r != nullptr; r = r->next) {
        ASSERT_EQ(isAdapterSupported(r, nullptr), 1);
        EXPECT_EQ(CheckAdapterFlashUpdateStatus(r), r->chipProperty.PciDeviceId == 0x2431 ? 6
                                                    : r->physicalPort == 1                ? 1
                                                                                          : 2)
            << r->instance;
    }
    TVXDevice stranger = *g_HBAList.last;
    stranger.portProperty.PortWWN[0] ^= 0xFF;
    EXPECT_EQ(CheckPortUpdateOption(&stranger), 6);
}

const TargetEntry *FindTarget(const TVXDevice *d, uint8_t lastByte) {
    for (const TargetEntry *t = d->targets.first; t != nullptr; t = t->next)
        if (t->property.PortWWN[7] == lastByte) return t;
    return nullptr;
}

// Readiness of targets by their TEST UNIT READY answers; fabric and loop
// entries become unconfigured targets that are never probed.
TEST_F(Discovery, TargetReadinessRules) {
    std::string denied;
    for (int i = 0; i < 10; ++i)
        denied += "\"access_denied\", ";
    std::string attention;
    for (int i = 0; i < 9; ++i)
        attention += "\"unit_attention\", ";
    Load(R"({"cards": [{"name": "a", "serial": "RFD0001", "chips": [{"ports": [{
        "targets": [
            {"luns": [{"lun": 0, "tur": [)" +
             denied + R"("ready"], "tur_then": "medium_error"}, {"lun": 1}]},
            {"luns": [{"lun": 0, "tur": ["no_media"]}]},
            {"luns": [{"lun": 0, "tur": ["medium_error"]}]},
            {"luns": [{"lun": 0, "tur": [)" +
             attention + R"("ready"]}]},
            {"luns": [{"lun": 0, "tur": [)" +
             attention + R"("unit_attention", "ready"]}]},
            {"luns": [{"lun": 0, "tur": ["reservation"]}]}
        ],
        "port_db": {"8": [{"node_wwn": "2000aabbccddee01", "port_wwn": "2100aabbccddee01"}],
                    "16": [{"node_wwn": "2000aabbccddee02", "port_wwn": "2100aabbccddee02"}]}
    }]}]}]})",
         kTable);
    ASSERT_EQ(g_DeviceList.count, 1u);
    const TVXDevice *d = g_DeviceList.first;
    EXPECT_EQ(d->targets.count, 8u);
    struct Expect {
        uint8_t index;
        bool ready;
    };
    // 0: ten access-denied answers on LUN 0 move the probe to LUN 1 (an
    // eleventh try on LUN 0 would meet the medium error).
    const Expect expected[] = {{0, true}, {1, true}, {2, false}, {3, true}, {4, false}, {5, true}};
    for (const Expect &e : expected) {
        const TargetEntry *t = FindTarget(d, e.index);
        ASSERT_NE(t, nullptr) << int(e.index);
        EXPECT_EQ(t->targetKind, 2u) << int(e.index);
        EXPECT_EQ((t->targetState & 1) != 0, e.ready) << int(e.index);
        if (!e.ready) {
            EXPECT_EQ(t->luns.count, 0u) << int(e.index);
        }
    }
    for (uint8_t last : {uint8_t(1), uint8_t(2)}) {
        const TargetEntry *t = nullptr;
        for (const TargetEntry *x = d->targets.first; x != nullptr; x = x->next)
            if (x->property.PortWWN[0] == 0x21 && x->property.PortWWN[7] == last) t = x;
        ASSERT_NE(t, nullptr) << int(last);
        EXPECT_EQ(t->targetKind, 1u);
        EXPECT_EQ(t->targetState, 1u);
        EXPECT_EQ(t->property.AddressWord1, 0xFFFF);
        EXPECT_EQ(t->luns.count, 0u);
        EXPECT_EQ(t->deviceType, 999u); // never asked
    }
}

// A LUNs-per-target word of 0 means 256 LUNs: the REPORT LUNS buffer is
// sized for 256 and only LUNs below 256 are probed.
TEST_F(Discovery, LunsPerTargetZeroMeans256) {
    std::string luns;
    for (int i = 0; i < 260; ++i)
        luns += (i == 0 ? "" : ", ") + std::string("{\"lun\": ") + std::to_string(i < 258 ? i : 300 + i) + "}";
    Load(R"({"cards": [{"name": "a", "serial": "RFD0001", "chips": [{"ports": [{
        "driver": {"luns_per_target": 0}, "targets": [{"luns": [)" +
             luns + R"(]}]}]}]}]})",
         kTable);
    ASSERT_EQ(g_DeviceList.count, 1u);
    const TargetEntry *t = g_DeviceList.first->targets.first;
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->luns.count, 256u);
    for (const LunEntry *l = t->luns.first; l != nullptr; l = l->next)
        EXPECT_LT(l->lun, 256u);
}

// Boot-from-SAN answers of single-port cards of a family that is asked
// (0x2031), in BIOS and EFI mode, and of a four-port card.
TEST_F(Discovery, BootFromSanAnswers) {
    const char *kBootName = R"("72": "50:06:0b:00:00:00:10:00")";
    struct Case {
        const char *name;
        bool efi;
        std::string port;
        int expected;
    };
    const std::string ready = R"("targets": [{"luns": [{}]}])";
    const std::string notReady = R"("targets": [{"luns": [{"tur": ["medium_error"]}]}])";
    const std::string fabricOnly =
        R"("port_db": {"8": [{"node_wwn": "2000aabbccddee01", "port_wwn": "2100aabbccddee01"}]})";
    const Case cases[] = {
        {"selectable boot off", false, R"("nvram1": {"params": {"60": 0, )" + std::string(kBootName) + "}}, " + ready,
         0},
        {"named target present", false, R"("nvram1": {"params": {"60": 1, )" + std::string(kBootName) + "}}, " + ready,
         1},
        {"named target not ready", false,
         R"("nvram1": {"params": {"60": 1, )" + std::string(kBootName) + "}}, " + notReady, 0},
        {"any device, target present", false, R"("nvram1": {"params": {"60": 1}}, )" + ready, 1},
        {"any device, none attached", false, R"("nvram1": {"params": {"60": 1}})", 0},
        {"any device, only a fabric entry", false, R"("nvram1": {"params": {"60": 1}}, )" + fabricOnly, 0},
        {"EFI selective login", true, R"("nvram1": {"params": {"92": 1, )" + std::string(kBootName) + "}}, " + ready,
         1},
        {"EFI without selective login", true,
         R"("nvram1": {"params": {"60": 1, )" + std::string(kBootName) + "}}, " + ready, 0},
    };
    const int savedEfi = g_bIA64Host;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        g_bIA64Host = c.efi ? 1 : 0;
        Load(R"({"cards": [{"name": "a", "device_id": "0x2031", "serial": "RFD0001", "chips": [{"ports": [{)" + c.port +
                 "}]}]}]}",
             kTable);
        ASSERT_EQ(g_HBAList.count, 1u);
        EXPECT_EQ(IsConfigureToBootFromSAN(g_HBAList.first), c.expected);
        CoreReleaseDevices();
    }
    g_bIA64Host = 0;
    // Four-port card: only its third port boots, every port answers 1.
    Load(R"({"cards": [{"name": "q", "device_id": "0x2031", "serial": "RFD0004", "chips": [{"ports": [{}, {}]},
        {"ports": [{"nvram1": {"params": {"60": 1}}, "targets": [{"luns": [{}]}]}, {}]}]}]})",
         kTable);
    ASSERT_EQ(g_HBAList.count, 4u);
    for (TVXDevice *r = g_HBAList.first; r != nullptr; r = r->next)
        EXPECT_EQ(IsConfigureToBootFromSAN(r), 1) << r->physicalPort;
    g_bIA64Host = savedEfi;
}

// LUN sizes: a disk beyond the 32-bit block address switches to READ
// CAPACITY(16), also after unit attentions used up tries; a reserved LUN
// and a non-disk LUN get the size marker.
TEST_F(Discovery, LunSizes) {
    Load(R"({"cards": [{"name": "a", "serial": "RFD0001", "chips": [{"ports": [{"targets": [{"luns": [
        {"lun": 0, "blocks": "0x200000000", "capacity": ["unit_attention", "unit_attention"]},
        {"lun": 1, "blocks": "0x100000"},
        {"lun": 2, "reserved": true},
        {"lun": 3, "type": 1}
    ]}]}]}]}]})",
         kTable);
    ASSERT_EQ(g_DeviceList.count, 1u);
    const TargetEntry *t = g_DeviceList.first->targets.first;
    ASSERT_NE(t, nullptr);
    std::vector<std::pair<uint16_t, uint32_t>> sizes;
    for (const LunEntry *l = t->luns.first; l != nullptr; l = l->next)
        sizes.emplace_back(l->lun, l->sizeMB);
    const std::vector<std::pair<uint16_t, uint32_t>> expected = {
        {0, 4194304u}, {1, 512u}, {2, 0xFEFEFEFEu}, {3, 0xFEFEFEFEu}};
    EXPECT_EQ(sizes, expected);
}

// The inquiry text of a LUN record: vendor, product and revision, each up to
// its width or its first NUL, blank-separated; the rest of the text zero.
TEST_F(Discovery, LunInquiryText) {
    Load(R"({"cards": [{"name": "a", "serial": "RFD0001", "chips": [{"ports": [{"targets": [{"luns": [
        {"lun": 0, "type": 3},
        {"lun": 1, "inquiry_hex": "030005021f00000041420000000000005050505050505050505050505050505031000000"},
        {"lun": 2, "inquiry_hex": "030005021f00000056565656565656560051515151515151515151515151515141424344"},
        {"lun": 3, "type": 3, "vendor": "VENDOR12", "product": "PRODUCT-16-CHARS", "revision": "R9.9"}
    ]}]}]}]}]})",
         kTable);
    ASSERT_EQ(g_DeviceList.count, 1u);
    const TargetEntry *t = g_DeviceList.first->targets.first;
    ASSERT_NE(t, nullptr);
    const std::vector<std::string> expected = {"SIMSTOR  VDISK            0001", "AB PPPPPPPPPPPPPPPP 1",
                                               "VVVVVVVV  ABCD", "VENDOR12 PRODUCT-16-CHARS R9.9"};
    std::vector<std::string> texts;
    for (const LunEntry *l = t->luns.first; l != nullptr; l = l->next) {
        texts.emplace_back(l->inquiryText);
        for (size_t i = texts.back().size(); i < sizeof l->inquiryText; ++i)
            EXPECT_EQ(l->inquiryText[i], '\0') << l->lun << " byte " << i;
        EXPECT_EQ(l->foFlags, 0u);
    }
    EXPECT_EQ(texts, expected);
}

// An adapter entry holds the WWNs as hex texts; one of a 24xx-or-later port
// has 256 virtual-port WWPN slots of 8 zero bytes, and the valid WWPNs of
// the device's table are copied up to the first invalid one. The entry is
// freed with the adapter list.
TEST(AdapterEntry, WwnTextsAndVirtualPortSlots) {
    auto *d = static_cast<TVXDevice *>(CoreMalloc(sizeof(TVXDevice)));
    ASSERT_NE(d, nullptr);
    d->chipProperty.PciDeviceId = 0x2532;
    const uint8_t node[8] = {0x20, 0x00, 0x00, 0x1B, 0x32, 0xA1, 0xB2, 0xC3};
    const uint8_t port[8] = {0x21, 0xF0, 0x0F, 0x9A, 0x00, 0x01, 0xFE, 0xFF};
    std::memcpy(d->nodeProperty.NodeWWN, node, 8);
    std::memcpy(d->portProperty.PortWWN, port, 8);
    const uint8_t wwpns[3][8] = {{0x21, 0, 0, 0x1B, 1, 2, 3, 4}, {0x21, 0, 0, 0x1B, 1, 2, 3, 5}, {}};
    const uint8_t after[8] = {0x21, 0, 0, 0x1B, 1, 2, 3, 6}; // behind the invalid one: not copied
    uint8_t table[4][8];
    std::memcpy(table, wwpns, sizeof wwpns);
    std::memcpy(table[3], after, 8);
    for (int i = 0; i < 4; ++i)
        d->vPortTable[i] = table[i];
    auto *a = static_cast<AdapterEntry *>(CoreMalloc(sizeof(AdapterEntry)));
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(CreateAdapterEntryFromTVXDevice(d, a), 0);
    EXPECT_STREQ(a->nodeWWNText, "2000001b32a1b2c3");
    EXPECT_STREQ(a->portWWNText, "21f00f9a0001feff");
    const uint8_t zero[8] = {};
    for (int i = 0; i < TVX_MAX_VPORTS; ++i) {
        ASSERT_NE(a->vPortWWPN[i], nullptr) << i;
        EXPECT_EQ(std::memcmp(a->vPortWWPN[i], i < 2 ? wwpns[i] : zero, 8), 0) << i;
    }
    // Every slot holds 8 bytes of its own.
    for (int i = 0; i < TVX_MAX_VPORTS; ++i)
        std::memset(a->vPortWWPN[i], i, 8);
    for (int i = 0; i < TVX_MAX_VPORTS; ++i)
        for (int b = 0; b < 8; ++b)
            ASSERT_EQ(a->vPortWWPN[i][b], static_cast<uint8_t>(i)) << i;
    InitAdapterList();
    ASSERT_EQ(AddNewAdapterToAdapterList(a), 0);
    RemoveAllAdaptersFromAdapterList();
    EXPECT_EQ(g_AdapterList.count, 0u);
    for (auto &slot : d->vPortTable)
        slot = nullptr;
    CoreFree(d);
}

} // namespace
