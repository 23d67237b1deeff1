// Active sets read from a simulated adapter, the status record flips, the
// status-region write with its retry rule and the active-regions query.
#include <gtest/gtest.h>

#include "multiregion/activeregions.h"
#include "multiregion/imgstatus.h"
#include "simchip.h"

namespace {

using mrtest::Count;
using mrtest::Status;
using mrtest::ZultRegions;

constexpr const char *kZult = "0x2281";
constexpr const char *kFenwar = "0x2071";
const char *const kDF = "0xFACEFADF";
const char *const kDE = "0xFACEFADE";
const char *const kED = "0xFACEFAED";

class ActiveRegions : public mrtest::SimChip {
  protected:
    ImageStatusView RecordOf(uint32_t region, uint32_t signature) {
        std::vector<uint8_t> b = Read(region, 16);
        return CoreViewImageStatus(b, signature);
    }
};

TEST_F(ActiveRegions, WorkedOutFromTheRecords) {
    struct Case {
        const char *name;
        const char *device;
        std::string regions;
        int result;
        uint8_t set;
        uint16_t generation;
        uint8_t board;
    } cases[] = {
        {"zult 5/7 both active", kZult,
         ZultRegions(Status(1, 5, kDF), Status(1, 7, kDF), Status(1, 2, kED), Status(0, 1, kED)), 0, 2, 7, 1},
        {"zult secondary record of another family", kZult,
         ZultRegions(Status(0, 4, kDF), Status(1, 9, kDE), Status(0, 1, kED), Status(1, 2, kED, 1)), 0, 1, 4, 2},
        {"fenwar primary active", kFenwar,
         R"({"code": "0x95", "size": "0x10000", "status": )" + Status(1, 3, kDE) +
             R"(}, {"code": "0x96", "size": "0x10000", "status": )" + Status(0, 2, kDE) + "}",
         0, 1, 3, 9},
        {"no secondary status region", kZult,
         R"({"code": "0x95", "size": "0x10000", "status": )" + Status(1, 3, kDF) + "}", ACTIVE_REGION_UNREADABLE, 0, 0,
         9},
        {"classic chip", "0x2532", R"({"code": "0x07", "size": "0x1000"})", ACTIVE_FAILED, 0, 0, 9},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Open(c.device, c.regions);
        CoreActiveRegions out{};
        out.regions.ActiveBoardConfig = 9; // Fenwar leaves the areas as given
        EXPECT_EQ(CoreGetAdapterFlashActiveRegions(&device_, &out), c.result);
        if (c.result == 0) {
            EXPECT_EQ(out.regions.ActiveGlobalRegions, c.set);
            EXPECT_EQ(out.generation, c.generation);
            EXPECT_EQ(out.regions.ActiveBoardConfig, c.board);
        }
        TearDown();
    }
}

TEST_F(ActiveRegions, ImageStatusFlip) {
    struct Case {
        const char *name;
        std::string pri, sec;
        uint8_t activeNow; // what the library reports
        uint8_t newSet;
        uint16_t newGeneration;
    } cases[] = {
        {"5/7 both active: primary next with 8", Status(1, 5, kDF), Status(1, 7, kDF), 2, 1, 8},
        {"primary at 65534: secondary gets 1", Status(1, 65534, kDF), Status(0, 3, kDF), 1, 2, 1},
        {"secondary record damaged: started afresh", Status(1, 4, kDF), Status(1, 9, "0x12345678"), 1, 2, 5},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Open(kZult, ZultRegions(c.pri, c.sec, Status(1, 1, kED), Status(0, 0, kED)));
        TVX_ACTIVE_REGIONS active{c.activeNow, 1, 1, 1, 1, {}};
        ASSERT_EQ(CoreUpdateImageStatus(&device_, &active), 0);
        ImageStatusView p = RecordOf(0x95, IMAGE_STATUS_SIGNATURE_ZULT);
        ImageStatusView s = RecordOf(0x96, IMAGE_STATUS_SIGNATURE_ZULT);
        const ImageStatusView &on = c.newSet == 1 ? p : s;
        const ImageStatusView &off = c.newSet == 1 ? s : p;
        EXPECT_TRUE(on.valid);
        EXPECT_EQ(on.mask, 1);
        EXPECT_EQ(on.generation, c.newGeneration);
        EXPECT_EQ(off.mask, 0);
        // The simulator's own reading of the records agrees.
        EXPECT_EQ(LibraryActive().ActiveGlobalRegions, c.newSet);
        // The record made active was written first, the rest of both regions kept.
        std::string j = Journal();
        size_t first = j.find(c.newSet == 1 ? "\"region\":\"0x95\"" : "\"region\":\"0x96\"");
        size_t second = j.find(c.newSet == 1 ? "\"region\":\"0x96\"" : "\"region\":\"0x95\"");
        EXPECT_LT(first, second);
        std::vector<uint8_t> region = Read(0x95, 0x10000);
        EXPECT_EQ(region[16], 0xFF);
        EXPECT_EQ(region[0xFFFF], 0xFF);
        TearDown();
    }
    Open("0x2071", ZultRegions(Status(1, 1, kDE), Status(0, 0, kDE), Status(1, 1, kED), Status(0, 0, kED)));
    TVX_ACTIVE_REGIONS active{1, 1, 1, 1, 1, {}};
    EXPECT_EQ(CoreUpdateImageStatus(&device_, &active), ACTIVE_NOT_ZULT);
    EXPECT_EQ(CoreUpdateImageStatus(nullptr, &active), ACTIVE_NO_ADAPTER);
    EXPECT_EQ(Count(Journal(), "\"op\":\"write\""), 0u);
}

TEST_F(ActiveRegions, AuxiliaryFlip) {
    struct Case {
        const char *name;
        std::string auxPri, auxSec;
        uint32_t firstRegion;
        uint8_t board;
        uint8_t bitmap;
        uint16_t generation;
    } cases[] = {
        {"primary aux active: secondary takes the flipped bitmap", Status(1, 2, kED, 0x4), Status(0, 1, kED), 0x126, 2,
         0x5, 3},
        {"secondary aux active", Status(0, 6, kED), Status(1, 7, kED, 0x1), 0x125, 1, 0x0, 8},
        {"neither active, primary older", Status(0, 1, kED), Status(0, 2, kED), 0x125, 2, 0x1, 3},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Open(kZult, ZultRegions(Status(1, 5, kDF), Status(0, 4, kDF), c.auxPri, c.auxSec));
        TVX_ACTIVE_REGIONS active = LibraryActive();
        ASSERT_EQ(CoreUpdateAuxImageStatus(&device_, &active), 0);
        ImageStatusView upd = RecordOf(c.firstRegion, IMAGE_STATUS_SIGNATURE_AUX);
        ImageStatusView other = RecordOf(c.firstRegion == 0x125 ? 0x126 : 0x125, IMAGE_STATUS_SIGNATURE_AUX);
        EXPECT_TRUE(upd.valid);
        EXPECT_EQ(upd.mask, 1);
        EXPECT_EQ(upd.bitmap, c.bitmap);
        EXPECT_EQ(upd.generation, c.generation);
        EXPECT_EQ(upd.toolId, 0);
        EXPECT_EQ(other.mask, 0);
        EXPECT_EQ(LibraryActive().ActiveBoardConfig, c.board);
        TearDown();
    }
}

TEST_F(ActiveRegions, StatusRegionWriteRetries) {
    struct Case {
        const char *name;
        std::string faults;
        std::string chipExtra;
        int result;
        size_t calls; // TvxUpdateOptionRomEx2 calls
        size_t waits; // 10000 ms waits
        size_t waitingLines;
        uint16_t disableReset;
    } cases[] = {
        {"chip reset pending 30 times", R"({"op": "write", "statuses": [], "then": "0x20000075"})", "", -1, 30, 29, 30,
         0},
        {"mpi reset twice, then written", R"({"op": "write", "statuses": ["0x20000067", "0x20000067"]})", "", 0, 3, 2,
         2, 0},
        {"reset disabled by the library", "", R"("reset_disabled": "always", )", 0, 1, 0, 0, 1},
        {"flash write failure ends at once", R"({"op": "write", "statuses": ["0x20000007"]})", "", -1, 1, 0, 0, 0},
        {"no update capabilities", "", R"("update_caps": null, )", -1, 0, 0, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::string top = R"("journal_all": true, )";
        if (!c.faults.empty()) top += R"("faults": [)" + c.faults + "], ";
        Open(kZult, ZultRegions(Status(1, 1, kDF), Status(0, 0, kDF), Status(1, 1, kED), Status(0, 0, kED)),
             c.chipExtra, top);
        std::vector<uint8_t> buf(0x10000, 0xFF);
        uint16_t disableReset = 0;
        StartTrace();
        EXPECT_EQ(CoreUpdateOptionRomEx(&device_, buf, 0x96, &disableReset), c.result);
        std::string trace = StopTrace();
        EXPECT_EQ(Count(Journal(), "\"fn\":\"TvxUpdateOptionRomEx2\""), c.calls);
        EXPECT_EQ(Count(trace, "OSSSleep: 10000 ms"), c.waits);
        EXPECT_EQ(Count(trace, "Waiting for"), c.waitingLines);
        EXPECT_EQ(disableReset, c.disableReset);
        if (c.calls == 0) {
            EXPECT_NE(trace.find("TvxGetFlashUpdateCapabilities() return 0x20000004"), std::string::npos);
        }
        TearDown();
    }
}

TEST_F(ActiveRegions, LibraryQuery) {
    struct Case {
        const char *name;
        std::string top;
        std::string chipExtra;
        int result;
        size_t waits;
        uint8_t set;
    } cases[] = {
        {"answered at once", "", "", 0, 0, 2},
        {"reset pending three times",
         R"("faults": [{"op": "TvxGetActiveRegions", "statuses": ["0x20000075", "0x20000075", "0x20000075"]}], )", "",
         0, 3, 2},
        {"never answers: 8 tries", R"("faults": [{"op": "TvxGetActiveRegions", "then": "0x20000075"}], )", "", -1, 7,
         0},
        {"invalid answer: the records decide", "",
         R"("active_regions": {"global": 0, "board_config": 2, "vpd_nvram": 2, "npiv01": 2, "npiv23": 2}, )", 0, 0, 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Open(kZult, ZultRegions(Status(1, 5, kDF), Status(1, 7, kDF), Status(1, 1, kED), Status(0, 0, kED)),
             c.chipExtra, c.top);
        TVX_ACTIVE_REGIONS out{};
        StartTrace();
        EXPECT_EQ(CoreGetActiveRegions(&device_, &out), c.result);
        std::string trace = StopTrace();
        EXPECT_EQ(Count(trace, "OSSSleep: 8000 ms"), c.waits);
        EXPECT_EQ(out.ActiveGlobalRegions, c.set);
        if (c.chipExtra.find("\"global\": 0") != std::string::npos) {
            EXPECT_NE(trace.find("Detected invalid active image status"), std::string::npos);
            // Areas come from the auxiliary records too, not the library's answer.
            EXPECT_EQ(out.ActiveBoardConfig, 1);
        }
        TearDown();
    }
    EXPECT_EQ(CoreGetActiveRegions(nullptr, nullptr), ACTIVE_FAILED);
}

TEST_F(ActiveRegions, RegionInfo) {
    Open(kZult, ZultRegions(Status(1, 5, kDF), Status(0, 4, "0x1"), Status(1, 1, kED), Status(0, 0, kED)) +
                    R"(, {"code": "0x14", "size": "0x400"})");
    int active = 0;
    uint16_t generation = 0;
    EXPECT_EQ(GetAdapterFlashActiveRegionInfo(&device_, 0x95, &active, &generation), 0);
    EXPECT_EQ(active, 1);
    EXPECT_EQ(generation, 5);
    active = 0;
    EXPECT_EQ(GetAdapterFlashActiveRegionInfo(&device_, 0x96, &active, &generation), REGION_INFO_INVALID_SIGNATURE);
    EXPECT_EQ(active, 0);
    EXPECT_EQ(GetAdapterFlashActiveRegionInfo(&device_, 0x14, &active, &generation), REGION_INFO_BAD_REGION);
    EXPECT_EQ(GetAdapterFlashActiveRegionInfo(nullptr, 0x95, &active, &generation), REGION_INFO_NO_ADAPTER);
}

} // namespace
