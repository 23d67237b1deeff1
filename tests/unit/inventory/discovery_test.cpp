// Discovery against simulated hosts, in-process.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "app/settings.h"
#include "inventory/bootsan.h"
#include "inventory/cxrtype.h"
#include "inventory/invutil.h"
#include "inventory/prefs.h"
#include "inventory/targets.h"
#include "inventory/tvxdevice.h"
#include "inventory/unopened.h"
#include "oss/oss.h"
#include "testutil.h"

extern "C" void TvxSimReset(void);
extern "C" TVX_STATUS TvxSimGetLoadError(char *text, uint32_t size);

namespace {

class Discovery : public ::testing::Test {
  protected:
    void Load(const std::string &hostJson, const std::string &table) {
        Open(hostJson, table);
        BuildHBADevices();
    }
    // The device list only (the HBA and adapter lists not built yet).
    void Open(const std::string &hostJson, const std::string &table) {
        std::string host = dir_.Write("host.json", hostJson);
        dir_.Write("adapters.properties", table);
        setenv("TORVEX_SIM_HOST", host.c_str(), 1);
        TvxSimReset();
        CopyText(g_szConfigPath, sizeof g_szConfigPath, dir_.dir().c_str());
        CoreInitialize();
        CoreOSSInitializeDevices();
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

// Ports that could not be opened: which of them an opened port accounts for
// (the first port of a chip whose second port opened, numbered just before
// it) and which may be cards of their own.
TEST_F(Discovery, UnopenedPortsAccountedByTheirChip) {
    struct Case {
        const char *name;
        const char *host;
        std::vector<uint32_t> unopened, unaccounted;
    };
    const Case cases[] = {
        {"a one-port card after a two-port card",
         R"({"cards": [{"name": "a", "serial": "RFD1", "chips": [{"ports": [{}, {}]}]},
                       {"name": "b", "serial": "RFD2", "chips": [{"ports": [{"open": "fail"}]}]}]})",
         {2},
         {2}},
        {"the first port of a two-port card",
         R"({"cards": [{"name": "a", "serial": "RFD1", "chips": [{"ports": [{"open": "fail"}, {}]}]}]})",
         {0},
         {}},
        {"the second port of a two-port card (or a card of its own)",
         R"({"cards": [{"name": "a", "serial": "RFD1", "chips": [{"ports": [{}, {"open": "fail"}]}]}]})",
         {1},
         {1}},
        {"a card after a chip whose first port never got ready",
         R"({"cards": [{"name": "a", "serial": "RFD1", "chips": [{"ports": [{"open": "unsupported"}, {}]}]},
                       {"name": "b", "serial": "RFD2", "chips": [{"ports": [{"open": "fail"}]}]}]})",
         {2},
         {2}},
        {"both ports of a four-port card's first chip",
         R"({"cards": [{"name": "q", "serial": "RFD1", "chips": [{"ports": [{"open": "fail"}, {"open": "fail"}]},
                                                                  {"ports": [{}, {}]}]}]})",
         {0, 1},
         {0, 1}},
        {"the first port of each chip of a four-port card",
         R"({"cards": [{"name": "q", "serial": "RFD1", "chips": [{"ports": [{"open": "fail"}, {}]},
                                                                  {"ports": [{"open": "fail"}, {}]}]}]})",
         {0, 2},
         {}},
        {"nothing failed", R"({"cards": [{"name": "a", "serial": "RFD1", "chips": [{"ports": [{}, {}]}]}]})", {}, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Load(c.host, kTable);
        std::vector<uint32_t> unopened, unaccounted;
        for (const UnopenedDevice &u : UnopenedDevices()) {
            unopened.push_back(u.instance);
            EXPECT_EQ(u.status, 0x20000001u);
            EXPECT_EQ(u.text, "General failure");
        }
        for (const UnopenedDevice &u : UnaccountedUnopenedDevices())
            unaccounted.push_back(u.instance);
        EXPECT_EQ(unopened, c.unopened);
        EXPECT_EQ(unaccounted, c.unaccounted);
        CoreReleaseDevices();
    }
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

// Each record of the lists owns its virtual-port table. A port's valid
// WWPNs reach its lookup and final adapter entries; a WWPN that is an open
// virtual-port instance gets a lookup entry of its own with the port's
// description; the FCoE-engine twin carries a copy of its device's table.
// Releasing the lists frees every table once (the sanitizer build checks
// for double frees and leaks).
TEST_F(Discovery, VirtualPortTablesOwnedByEachRecord) {
    Open(R"({"cards": [
        {"name": "fc", "serial": "RFD0001", "chips": [{"ports": [{}, {},
            {"node": {"interface": 3, "vport_id": 7}, "port": {"wwn": "2400001d7a000001"}}]}]},
        {"name": "cna", "device_id": 33842, "subsys_device": 270, "subsys_vendor": 4215, "serial": "RFD0003",
         "chips": [{"ports": [{}]}]}
    ]})",
         std::string(kTable) + "0x010E,0x1077,CXR8432,CNA,TRUE\n");
    ASSERT_EQ(g_DeviceList.count, 4u);
    TVXDevice *fc = g_DeviceList.first;
    TVXDevice *cna = fc->next->next->next;
    ASSERT_EQ(fc->nodeProperty.InterfaceKind, TVX_INTERFACE_PHYSICAL);
    ASSERT_EQ(cna->chipProperty.PciDeviceId, 0x8432);
    const VPortWwpn fcTable[] = {{0x24, 0, 0, 0x1D, 0x7A, 0, 0, 1}, {0x24, 0, 0, 0x1D, 0x7A, 0, 0, 2}};
    const VPortWwpn cnaTable[] = {{0x25, 0, 0, 0x1D, 0x7A, 0, 0, 9}};
    ASSERT_EQ(SetDeviceVPortTable(fc, fcTable), 0);
    ASSERT_EQ(SetDeviceVPortTable(cna, cnaTable), 0);

    // The lookup list: the open virtual port joins with the port's description.
    TVXDevice *sorted = SortAdapterList(&g_DeviceList);
    ASSERT_NE(sorted, nullptr);
    int virtualEntries = 0;
    for (AdapterEntry *e = g_AdapterList.first; e != nullptr; e = e->next) {
        if (e->interfaceKind != TVX_INTERFACE_VIRTUAL) continue;
        ++virtualEntries;
        EXPECT_EQ(e->instance, 2u);
        EXPECT_EQ(e->vPortId, 7);
        EXPECT_STREQ(e->description, "Orvane 2532");
    }
    EXPECT_EQ(virtualEntries, 1);
    for (TVXDevice *r = sorted; r != nullptr; r = r->next) {
        const TVXDevice *from = r->instance == fc->instance ? fc : r->instance == cna->instance ? cna : nullptr;
        if (from == nullptr) {
            EXPECT_EQ(r->vPortTable, nullptr) << r->instance;
            continue;
        }
        ASSERT_NE(r->vPortTable, nullptr) << r->instance;
        EXPECT_NE(r->vPortTable, from->vPortTable) << r->instance;
        ASSERT_EQ(DeviceVPortCount(r), DeviceVPortCount(from)) << r->instance;
        EXPECT_EQ(std::memcmp(r->vPortTable, from->vPortTable, sizeof(VPortWwpn) * DeviceVPortCount(r)), 0);
    }
    FreeDeviceCopies(sorted);
    RemoveAllAdaptersFromAdapterList();

    // The final lists.
    BuildHBADevices();
    ASSERT_EQ(g_HBAList.count, 4u); // two FC ports, the CNA port and its FCoE-engine twin
    int tables = 0;
    for (TVXDevice *r = g_HBAList.first; r != nullptr; r = r->next) {
        if (r->vPortTable == nullptr) continue;
        ++tables;
        EXPECT_TRUE(r->instance == fc->instance || r->instance == cna->instance) << r->instance;
        EXPECT_NE(r->vPortTable, r->instance == fc->instance ? fc->vPortTable : cna->vPortTable);
    }
    EXPECT_EQ(tables, 3); // the twin's is a copy of its own
    ASSERT_EQ(g_AdapterList.count, 3u); // the twin's entry has the port's WWNs
    for (AdapterEntry *e = g_AdapterList.first; e != nullptr; e = e->next) {
        const uint32_t expected = e->interfaceKind == TVX_INTERFACE_FCOE_ENGINE ? 0
                                  : e->instance == fc->instance                 ? 2
                                  : e->instance == cna->instance                ? 1
                                                                                : 0;
        ASSERT_EQ(e->vPortWWPNCount, expected) << e->instance;
        EXPECT_EQ(e->vPortWWPN == nullptr, expected == 0) << e->instance;
        if (expected > 0) {
            EXPECT_EQ(std::memcmp(e->vPortWWPN, e->instance == fc->instance ? fcTable : cnaTable, 8 * expected), 0);
        }
    }
}

// An adapter entry holds the WWNs as hex texts. An entry of a 24xx-or-later
// port that is not an FCoE-engine record holds the valid WWPNs of its
// device's virtual-port table up to the first invalid one, in a block only
// as large as they are; without any it holds no block. The table holds at
// most 256 WWPNs.
TEST(AdapterEntry, VirtualPortWwpnsUpToTheFirstInvalidOne) {
    const VPortWwpn a = {0x21, 0, 0, 0x1B, 1, 2, 3, 4};
    const VPortWwpn b = {0x21, 0, 0, 0x1B, 1, 2, 3, 5};
    const VPortWwpn ones = {1, 1, 1, 1, 1, 1, 1, 1}; // all equal, but valid
    const VPortWwpn zeros = {};
    const VPortWwpn digits = {'0', '0', '0', '0', '0', '0', '0', '0'};
    const VPortWwpn full = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    struct Case {
        const char *name;
        uint16_t deviceId;
        uint16_t interfaceKind;
        std::vector<const uint8_t *> table;
        uint32_t expected; // leading entries of table copied
    };
    std::vector<const uint8_t *> many(300, a);
    const Case cases[] = {
        {"no table", 0x2532, TVX_INTERFACE_PHYSICAL, {}, 0},
        {"two then zeros", 0x2532, TVX_INTERFACE_PHYSICAL, {a, b, zeros, a}, 2},
        {"ones are valid", 0x2532, TVX_INTERFACE_PHYSICAL, {ones, a, digits}, 2},
        {"digit zeros first", 0x2532, TVX_INTERFACE_PHYSICAL, {digits, a}, 0},
        {"0xFF after one", 0x2422, TVX_INTERFACE_PHYSICAL, {b, full, a}, 1},
        {"all valid", 0x2532, TVX_INTERFACE_PHYSICAL, {a, b}, 2},
        {"at most 256", 0x2532, TVX_INTERFACE_PHYSICAL, many, 256},
        {"family below 24xx", 0x2312, TVX_INTERFACE_PHYSICAL, {a, b}, 0},
        {"FCoE engine", 0x8432, TVX_INTERFACE_FCOE_ENGINE, {a, b}, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto *d = static_cast<TVXDevice *>(CoreMalloc(sizeof(TVXDevice)));
        ASSERT_NE(d, nullptr);
        d->chipProperty.PciDeviceId = c.deviceId;
        d->nodeProperty.InterfaceKind = c.interfaceKind;
        const uint8_t node[8] = {0x20, 0x00, 0x00, 0x1B, 0x32, 0xA1, 0xB2, 0xC3};
        const uint8_t port[8] = {0x21, 0xF0, 0x0F, 0x9A, 0x00, 0x01, 0xFE, 0xFF};
        std::memcpy(d->nodeProperty.NodeWWN, node, 8);
        std::memcpy(d->portProperty.PortWWN, port, 8);
        std::vector<uint8_t> bytes;
        for (const uint8_t *w : c.table)
            bytes.insert(bytes.end(), w, w + 8);
        std::span<const VPortWwpn> table(reinterpret_cast<const VPortWwpn *>(bytes.data()), c.table.size());
        ASSERT_EQ(SetDeviceVPortTable(d, table), 0);
        EXPECT_EQ(DeviceVPortCount(d), std::min<uint32_t>(static_cast<uint32_t>(c.table.size()), TVX_MAX_VPORTS));
        EXPECT_EQ(d->vPortTable == nullptr, c.table.empty());

        auto *e = static_cast<AdapterEntry *>(CoreMalloc(sizeof(AdapterEntry)));
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(CreateAdapterEntryFromTVXDevice(d, e), 0);
        EXPECT_STREQ(e->nodeWWNText, "2000001b32a1b2c3");
        EXPECT_STREQ(e->portWWNText, "21f00f9a0001feff");
        ASSERT_EQ(e->vPortWWPNCount, c.expected);
        EXPECT_EQ(e->vPortWWPN == nullptr, c.expected == 0);
        for (uint32_t i = 0; i < c.expected; ++i)
            EXPECT_EQ(std::memcmp(e->vPortWWPN[i], c.table[i], 8), 0) << i;
        // The entry's block is its own: the device's table can go first.
        ASSERT_EQ(SetDeviceVPortTable(d, {}), 0);
        EXPECT_EQ(d->vPortTable, nullptr);
        for (uint32_t i = 0; i < c.expected; ++i)
            EXPECT_EQ(std::memcmp(e->vPortWWPN[i], c.table[i], 8), 0) << i;
        InitAdapterList();
        ASSERT_EQ(AddNewAdapterToAdapterList(e), 0);
        RemoveAllAdaptersFromAdapterList();
        EXPECT_EQ(g_AdapterList.count, 0u);
        CoreFree(d);
    }
}

} // namespace
