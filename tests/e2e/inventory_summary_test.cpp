// Host information and adapter summary (/l) and the start-up failures,
// end to end against simulated hosts.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "inv_hosts.h"

namespace {

// One card of each kind: single-port 23xx (serial from node bytes), two-port
// 24xx and 25xx, a four-port two-chip 25xx, a converged 8432 (FCoE engine
// twin) and a card without a row in the table.
const char *kMixedHost = R"({"cards": [
 {"name": "c23", "device_id": "0x2312", "subsys_device": "0x0100", "serial": "S23A",
  "chips": [{"ports": [{"node": {"serial_bytes": "033039"}}]}]},
 {"name": "c24", "device_id": "0x2432", "subsys_device": "0x0138", "serial": "RFD2432", "chips": [{"ports": [{}, {}]}]},
 {"name": "c25", "serial": "RFD2532", "chips": [{"ports": [{}, {}]}]},
 {"name": "c25q", "serial": "RFD4PORT", "chips": [{"ports": [{}, {}]}, {"ports": [{}, {}]}]},
 {"name": "cna", "device_id": "0x8432", "subsys_device": "0x010E", "subsys_vendor": "0x1077", "serial": "CNA8432",
  "chips": [{"ports": [{}, {}]}]},
 {"name": "unsup", "subsys_device": "0x0999", "serial": "UNSUP01", "chips": [{"ports": [{}]}]}
]})";

TEST(InventorySummary, CardsPortsSerialsAndCount) {
    inv::Host host("invsum", kMixedHost);
    int failover = 0;
    auto out = host.Output({"/l"}, 0, &failover);
    EXPECT_EQ(failover, 12); // one per opened port
    ASSERT_GE(out.size(), 5u);
    EXPECT_EQ(out[0], inv::kDashes);
    EXPECT_EQ(out[1].rfind("Host Name                      : ", 0), 0u) << out[1];
    EXPECT_EQ(out[2].rfind("OS Type                        : ", 0), 0u) << out[2];
    EXPECT_EQ(out[3].rfind("OS Version                     : ", 0), 0u) << out[3];
    EXPECT_EQ(out[4], "TVXAPI                         : 1.28.122.0");
    std::vector<std::string> summary(out.begin() + 5, out.end());
    const std::vector<std::string> expected = {
        inv::kDashes,
        "HBA Model CXR2312 (SN C11248):",
        "  Port 1 WWPN 21-00-00-1D-7A-00-00-00 (HBA 0) Online",
        "HBA Model CXR8432 (SN CNA8432):",
        "  Port 1 WWPN 21-00-00-1D-7A-04-00-00 (HBA 9) Online",
        "  Port 1 WWPN 21-00-00-1D-7A-04-00-00 (HBA 9) Online", // the FCoE engine twin
        "  Port 2 WWPN 21-00-00-1D-7A-04-00-01 (HBA 10) Online",
        "HBA Model CXR2432 (SN RFD2432):",
        "  Port 1 WWPN 21-00-00-1D-7A-01-00-00 (HBA 1) Online",
        "  Port 2 WWPN 21-00-00-1D-7A-01-00-01 (HBA 2) Online",
        "HBA Model CXR2532 (SN RFD2532):",
        "  Port 1 WWPN 21-00-00-1D-7A-02-00-00 (HBA 3) Online",
        "  Port 2 WWPN 21-00-00-1D-7A-02-00-01 (HBA 4) Online",
        "HBA Model CXR2532 (SN RFD4PORT):",
        "  Port 1 WWPN 21-00-00-1D-7A-03-00-00 (HBA 5) Online",
        "  Port 2 WWPN 21-00-00-1D-7A-03-00-01 (HBA 6) Online",
        "  Port 3 WWPN 21-00-00-1D-7A-03-01-00 (HBA 7) Online",
        "  Port 4 WWPN 21-00-00-1D-7A-03-01-01 (HBA 8) Online",
        "HBA Model CXR2532 (SN UNSUP01):",
        "  Port 1 WWPN 21-00-00-1D-7A-05-00-00 (HBA 11) Online",
        inv::kDashes,
        "Total Orvane HBA(s) : 6",
    };
    EXPECT_EQ(summary, expected);
}

// Status texts, the API port number, VPD serials (cut to the field, empty,
// unreadable) and cards without a serial number.
TEST(InventorySummary, StatusTextsAndSerialSources) {
    inv::Host host("invstat", R"({
 "faults": [{"op": "TvxGetVpd", "instance": 4, "statuses": ["0x20000006"], "then": "0x20000006"}],
 "cards": [
 {"name": "longsn", "chips": [{"vpd": {"id": "X", "ro": {"SN": "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345"}},
   "ports": [{"port": {"state": 2, "link_state2": 1}}, {"pci": {"api_port": 3}, "port": {"state": 3}}]}]},
 {"name": "nosn1", "chips": [{"vpd": {"id": "X", "ro": {"SN": ""}}, "ports": [{"port": {"state": 2, "link_state2": 6}}]}]},
 {"name": "nosn2", "chips": [{"vpd": {"id": "X", "ro": {"SN": ""}}, "ports": [{"port": {"state": 5}}]}]},
 {"name": "novpd", "serial": "ZZVPD", "chips": [{"ports": [{"node": {"serial_bytes": "000102"}}]}]},
 {"name": "tesk", "device_id": "0x2031", "serial": "TESK2031",
  "chips": [{"ports": [{"node": {"firmware_version": "8.02.00"}, "port": {"link_state3": 32768}},
                       {"node": {"firmware_version": "7.99.00"}, "port": {"link_state3": 32768}}]}]}
]})");
    auto out = host.Output({"/l"}, 0);
    std::vector<std::string> summary(out.begin() + 6, out.end());
    const std::vector<std::string> expected = {
        // Two cards with an empty serial number: each its own header and
        // each its own port 1.
        "HBA Model CXR2532 (SN ):",
        "  Port 1 WWPN 21-00-00-1D-7A-01-00-00 (HBA 2) SFP Invalid",
        "HBA Model CXR2532 (SN ):",
        "  Port 1 WWPN 21-00-00-1D-7A-02-00-00 (HBA 3) Unknown",
        // VPD unreadable: the serial comes from the node bytes.
        "HBA Model CXR2532 (SN A00513):",
        "  Port 1 WWPN 21-00-00-1D-7A-03-00-00 (HBA 4) Online",
        // A 32-character SN is cut to 31 characters; the API port number wins.
        "HBA Model CXR2532 (SN ABCDEFGHIJKLMNOPQRSTUVWXYZ01234):",
        "  Port 1 WWPN 21-00-00-1D-7A-00-00-00 (HBA 0) SFP not installed",
        "  Port 3 WWPN 21-00-00-1D-7A-00-00-01 (HBA 1) Link Down",
        "HBA Model CXR2031 (SN TESK2031):",
        "  Port 1 WWPN 21-00-00-1D-7A-04-00-00 (HBA 5) Online (FEC)",
        "  Port 2 WWPN 21-00-00-1D-7A-04-00-01 (HBA 6) Online",
        inv::kDashes,
        "Total Orvane HBA(s) : 5",
    };
    EXPECT_EQ(summary, expected);

    // The /i block carries the same port numbers; an empty serial is shown
    // as the number formed from the node bytes.
    auto blocks = inv::Blocks(host.Output({"/i"}, 0));
    ASSERT_EQ(blocks.size(), 7u);
    std::vector<std::string> ports, serials;
    for (auto &b : blocks) {
        ports.push_back(inv::Value(b, "HBA Port"));
        serials.push_back(inv::Value(b, "Serial Number"));
    }
    EXPECT_EQ(ports, (std::vector<std::string>{"1", "1", "1", "1", "3", "1", "2"}));
    EXPECT_EQ(serials[0], "B00011");
    EXPECT_EQ(serials[1], "B00021");
    EXPECT_EQ(serials[2], "A00513");
}

TEST(InventorySummary, EmptyHostAndMissingTable) {
    inv::Host empty("invempty", R"({"cards": []})");
    auto l = empty.Output({"/l"}, 255);
    ASSERT_EQ(l.size(), 6u);
    EXPECT_EQ(l[5], "Info: Orvane HBA not found!");
    for (const char *cmd : {"/i", "/q"})
        EXPECT_EQ(empty.Output({cmd}, 8), (std::vector<std::string>{"Info: Orvane HBA not found!"})) << cmd;

    // Adapters present but no supported-adapter table: status 5 before any
    // display, after the ports were opened.
    inv::Host notable("invnotable", kMixedHost, nullptr);
    for (const char *cmd : {"/l", "/i", "/q"}) {
        int failover = 0;
        EXPECT_EQ(notable.Output({cmd}, 5, &failover),
                  (std::vector<std::string>{"Configuration files not found in default path!"}))
            << cmd;
        EXPECT_EQ(failover, 12) << cmd;
    }

    // A table without a usable row leaves every adapter unsupported: the run
    // goes on and no description is shown.
    inv::Host dirtable("invdirtable", R"({"cards": [{"name": "a", "serial": "RFD1", "chips": [{"ports": [{}]}]}]})",
                       nullptr);
    e2e::WriteFile(dirtable.path() / "adapters.properties", "garbage without commas\n");
    auto blocks = inv::Blocks(dirtable.Output({"/i"}, 0));
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_NE(std::find(blocks[0].begin(), blocks[0].end(), "HBA Description                : "), blocks[0].end());
}

// Not-ready instances are retried every 5000 ms, at most six times between
// two successful opens; an instance that never gets ready is skipped.
TEST(InventorySummary, OpenRetryWaits) {
    inv::Host host("invretry", R"({"cards": [
 {"name": "a", "serial": "RFD0001", "chips": [{"ports": [
   {"open": "not_ready", "not_ready_count": 2}, {"open": "unsupported"}, {"open": "unsupported"}]}]},
 {"name": "b", "serial": "RFD0002", "chips": [{"ports": [{}]}]},
 {"name": "c", "serial": "RFD0003", "chips": [{"ports": [{"open": "unsupported"}, {"open": "fail"}, {}]}]}
]})");
    for (const char *flag : {"-debug", "-trace"}) {
        auto r = host.Run({flag, "/l"});
        EXPECT_EQ(r.status, 0);
        std::string text = std::string(flag) == "-trace" ? e2e::ReadFile(host.path() / "tarnikflasher.log") : r.out;
        size_t sleeps = 0;
        for (size_t p = text.find("OSSSleep: 5000 ms\n"); p != std::string::npos;
             p = text.find("OSSSleep: 5000 ms\n", p + 1))
            ++sleeps;
        // Instance 0: 2 waits; 1: 6 waits; 2: none (waits used up);
        // 3 opens; 4: 6 waits again; 5 fails at once; 6 opens.
        EXPECT_EQ(sleeps, 14u) << flag;
        std::filesystem::remove(host.path() / "tarnikflasher.log");
    }
    auto out = host.Output({"/l"}, 0);
    std::vector<std::string> summary(out.begin() + 6, out.end());
    EXPECT_EQ(summary, (std::vector<std::string>{
                           "HBA Model CXR2532 (SN RFD0001):",
                           "  Port 1 WWPN 21-00-00-1D-7A-00-00-00 (HBA 0) Online",
                           "HBA Model CXR2532 (SN RFD0002):",
                           "  Port 1 WWPN 21-00-00-1D-7A-01-00-00 (HBA 3) Online",
                           "HBA Model CXR2532 (SN RFD0003):",
                           "  Port 1 WWPN 21-00-00-1D-7A-02-00-02 (HBA 6) Online",
                           inv::kDashes,
                           "Total Orvane HBA(s) : 3",
                       }));
    // Without -debug the waits leave no trace.
    auto plain = host.Run({"/l"});
    EXPECT_EQ(plain.out.find("OSSSleep"), std::string::npos);
}

} // namespace
