// The set an online 27xx update writes, the records that make it active,
// the offline records, the sequence tables against the region maps, the
// firmware attribute and the FC board configuration merge.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "multiregion/capabilities.h"
#include "multiregion/imgstatus.h"
#include "multiregion/online_sets.h"

namespace {

using Record = std::array<uint8_t, IMAGE_STATUS_RECORD_SIZE>;

// A record as the adapter keeps it; valid false gives a wrong signature.
Record Rec(bool valid, int mask, int generation) {
    Record r{};
    r[0] = uint8_t(mask);
    r[1] = uint8_t(generation);
    r[2] = uint8_t(generation >> 8);
    resetImageStatusHeader(r);
    if (!valid) r[12] ^= 0xFF;
    return r;
}

struct RecordState {
    int mask;
    int generation;
};

RecordState State(const Record &r) {
    EXPECT_EQ(CoreIsImageStatusRegionValid(r, IMAGE_STATUS_SIGNATURE_FENWAR), 1);
    return {CoreGetImageStatusMask(r), CoreGetImageStatusGenerationNumber(r)};
}

TEST(FenwarSetChoice, NeverTheRunningSet) {
    struct Case {
        const char *name;
        Record primary, secondary;
        int running, write, table;
        RecordState p, s; // records written
    } cases[] = {
        {"primary active", Rec(true, 1, 3), Rec(true, 0, 2), 1, 2, 2, {0, 3}, {1, 4}},
        {"secondary active", Rec(true, 0, 3), Rec(true, 1, 4), 2, 1, 1, {1, 5}, {0, 4}},
        {"both active, secondary newer (5/7)", Rec(true, 1, 5), Rec(true, 1, 7), 2, 1, 1, {1, 8}, {0, 7}},
        {"both active, primary newer", Rec(true, 1, 7), Rec(true, 1, 5), 1, 2, 2, {0, 7}, {1, 8}},
        {"both active 9/9", Rec(true, 1, 9), Rec(true, 1, 9), 1, 2, 1, {0, 9}, {1, 10}},
        {"neither active 9/9", Rec(true, 0, 9), Rec(true, 0, 9), 1, 2, 1, {0, 9}, {1, 10}},
        {"neither active, secondary newer", Rec(true, 0, 4), Rec(true, 0, 6), 2, 1, 1, {1, 7}, {0, 6}},
        {"invalid secondary, primary active", Rec(true, 1, 3), Rec(false, 1, 9), 1, 2, 1, {0, 3}, {1, 4}},
        {"invalid primary, secondary active", Rec(false, 1, 9), Rec(true, 1, 4), 2, 1, 1, {1, 5}, {0, 4}},
        {"generation 65534 wraps", Rec(true, 1, 65534), Rec(true, 0, 2), 1, 2, 2, {0, 65534}, {1, 1}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const FenwarSetChoice got = ChooseFenwarSet(c.primary, c.secondary);
        EXPECT_EQ(got.runningSet, c.running);
        EXPECT_EQ(got.writeSet, c.write);
        EXPECT_EQ(got.tableSet, c.table);
        const RecordState p = State(got.primary);
        const RecordState s = State(got.secondary);
        EXPECT_EQ(p.mask, c.p.mask);
        EXPECT_EQ(p.generation, c.p.generation);
        EXPECT_EQ(s.mask, c.s.mask);
        EXPECT_EQ(s.generation, c.s.generation);
        // The records as written designate the set written.
        const uint8_t designated =
            CoreDecideActiveSet(CoreViewImageStatus(got.primary, IMAGE_STATUS_SIGNATURE_FENWAR),
                                CoreViewImageStatus(got.secondary, IMAGE_STATUS_SIGNATURE_FENWAR), nullptr);
        EXPECT_EQ(designated, c.write);
    }
}

TEST(FenwarSetChoice, OfflineRecordsMakeThePrimaryActive) {
    struct Case {
        const char *name;
        Record primary, secondary;
        bool change;
        int state;
        RecordState p, s;
    } cases[] = {
        {"primary active", Rec(true, 1, 3), Rec(true, 0, 2), false, 1, {1, 3}, {0, 2}},
        {"secondary active", Rec(true, 0, 3), Rec(true, 1, 4), true, 2, {1, 4}, {0, 3}},
        {"both active", Rec(true, 1, 5), Rec(true, 1, 7), true, 0, {1, 7}, {0, 7}},
        {"neither active, equal", Rec(true, 0, 6), Rec(true, 0, 6), true, 0, {1, 7}, {0, 6}},
        {"both active at 65534", Rec(true, 1, 65534), Rec(true, 1, 65534), true, 0, {1, 1}, {0, 65534}},
        {"invalid records", Rec(false, 1, 3), Rec(false, 0, 2), true, 0, {1, 1}, {0, 0}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const FenwarOfflineRecords got = FenwarOfflineStatusRecords(c.primary, c.secondary);
        EXPECT_EQ(got.change, c.change);
        EXPECT_EQ(got.state, c.state);
        const RecordState p = State(got.primary);
        const RecordState s = State(got.secondary);
        EXPECT_EQ(p.mask, c.p.mask);
        EXPECT_EQ(p.generation, c.p.generation);
        EXPECT_EQ(s.mask, c.s.mask);
        EXPECT_EQ(s.generation, c.s.generation);
        if (c.change) {
            const uint8_t designated =
                CoreDecideActiveSet(CoreViewImageStatus(got.primary, IMAGE_STATUS_SIGNATURE_FENWAR),
                                    CoreViewImageStatus(got.secondary, IMAGE_STATUS_SIGNATURE_FENWAR), nullptr);
            EXPECT_EQ(designated, 1);
        }
    }
}

// Every region a Fenwar update of a set writes belongs to that set or to
// no set; the Zult set lists agree with the alternate region map.
TEST(OnlineSequences, TargetsStayInTheSetWritten) {
    uint32_t codes[FENWAR_SEQUENCE_SLOTS + 2];
    std::fill(std::begin(codes), std::end(codes), 0xEEEEEEEEu);
    InitFenwarFlashUpdateSequence(codes, FENWAR_SEQUENCE_SLOTS);
    EXPECT_EQ(codes[FENWAR_SEQUENCE_SLOTS], 0xEEEEEEEEu) << "wrote past the slots";
    EXPECT_EQ(codes[11], 0u);
    for (int set : {1, 2}) {
        for (size_t i = 0; i < FENWAR_SEQUENCE_SLOTS && codes[i] != 0; ++i) {
            const uint32_t t = FenwarTargetRegion(codes[i], set);
            if (t != 0) {
                EXPECT_NE(FenwarRegionSet(t), 3 - set) << std::hex << codes[i];
            }
        }
        uint32_t order[IMAGE_STATUS_SLOTS];
        InitImageStatusFlashUpdateSequence(order, IMAGE_STATUS_SLOTS, set);
        EXPECT_EQ(order[0], set == 1 ? 0x95u : 0x96u) << "the record of the set written goes first";
    }
    // The trunking PEP copy 0x67 is set 2's: a set-1 update must not touch it.
    EXPECT_EQ(FenwarTargetRegion(0x67, 1), 0u);
    EXPECT_EQ(FenwarTargetRegion(0x07, 2), 0x09u);

    uint32_t z1[ZULT_SEQUENCE_SLOTS], z2[ZULT_SEQUENCE_SLOTS];
    InitOnlineFlashUpdateSequenceForZultAdapter(z1, ZULT_SEQUENCE_SLOTS, 1);
    InitOnlineFlashUpdateSequenceForZultAdapter(z2, ZULT_SEQUENCE_SLOTS, 2);
    TVX_ACTIVE_REGIONS primaryActive{};
    primaryActive.ActiveGlobalRegions = 1;
    primaryActive.ActiveBoardConfig = 1;
    for (size_t i = 0; i < ZULT_SEQUENCE_SLOTS; ++i) {
        if (z1[i] == 0) {
            EXPECT_EQ(z2[i], 0u);
            continue;
        }
        EXPECT_EQ(ZultRegionSet(z1[i]) == 2, false) << std::hex << z1[i];
        // 0x211 of the set-2 list is only logged: the writes follow the map.
        if (z2[i] != 0x211) {
            EXPECT_EQ(CoreGetAlternateRegion(z1[i], primaryActive), z2[i]) << std::hex << z1[i];
        }
    }
}

TEST(FirmwareAttribute, TakenOnlyForTheFamilysSupportWord) {
    std::vector<uint8_t> fw(120, 0);
    auto be = [&](size_t off, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            fw[off + i] = uint8_t(v >> (24 - 8 * i));
    };
    be(28, 0x11223344);
    be(32, 0x40);
    be(36, 0x55667788);
    uint64_t a = 1;
    EXPECT_EQ(GetFirmwareAttribute(fw, FW_ATTRIBUTE_SUPPORT_FENWAR, &a), 0);
    EXPECT_EQ(a, 0x5566778811223344ull);
    const FirmwareAttributeBlock block = MakeFirmwareAttributeBlock(a);
    EXPECT_EQ(block[0], 0x44);
    EXPECT_EQ(block[7], 0x55);
    EXPECT_EQ(block[29], 0);
    EXPECT_EQ(GetFirmwareAttribute(fw, FW_ATTRIBUTE_SUPPORT_ZULT, &a), 0);
    EXPECT_EQ(a, 0u);
    a = 7;
    EXPECT_EQ(GetFirmwareAttribute(std::span<const uint8_t>(fw).first(39), FW_ATTRIBUTE_SUPPORT_FENWAR, &a), -1);
    EXPECT_EQ(a, 0u);
}

// A board configuration block of 0x1000 bytes with a valid checksum.
std::vector<uint8_t> Fbc(uint8_t fill) {
    std::vector<uint8_t> b(0x1000, fill);
    b[0] = 'C';
    b[1] = 'B';
    b[2] = 'F';
    b[3] = '(';
    const uint32_t dwords = 0x1000 / 4;
    for (int i = 0; i < 4; ++i)
        b[12 + i] = uint8_t(dwords >> (8 * i));
    CoreCalculateChecksum32(b, b.size(), 8);
    return b;
}

TEST(PreserveBoardConfig, RunningSettingsCarriedIntoTheNewBlock) {
    TVXDevice dev{};
    dev.chipProperty.PciDeviceId = 0x2281;
    dev.chipProperty.SubsysVendorId = 0x1D7A;
    dev.chipProperty.SubsysDeviceId = 0x0601;
    // Running settings 0xA7: poll enable bit 0 and FEC bit 1 set.
    const std::vector<uint8_t> running = Fbc(0xA7);
    std::vector<uint8_t> fresh = Fbc(0x00);
    ASSERT_EQ(CorePreserveFCBrdCfgData(&dev, running, fresh), 0);
    EXPECT_EQ(fresh[448], 0xA7);
    EXPECT_EQ(fresh[449], 0x01);
    for (size_t off : FBC_OFF_BBCR)
        EXPECT_EQ(fresh[off], 0xA7);
    for (size_t off : FBC_OFF_FEC)
        EXPECT_EQ(fresh[off], 0x02);
    EXPECT_EQ(fresh[16] | fresh[17] << 8, 0x1D7A);
    EXPECT_EQ(fresh[18] | fresh[19] << 8, 0x0601);
    EXPECT_EQ(CoreValidateChecksum32(fresh, fresh.size()), 0);

    struct Case {
        const char *name;
        std::vector<uint8_t> running, fresh;
        uint16_t device;
        int result;
        bool settingsKept; // the new block's own settings stay
    } cases[] = {
        {"new block without signature", Fbc(0xA5),
         [] {
             auto b = Fbc(0x00);
             b[0] = 'X';
             return b;
         }(),
         0x2281, -1, true},
        {"running block damaged",
         [] {
             auto b = Fbc(0xA5);
             b[100] ^= 1;
             return b;
         }(),
         Fbc(0x00), 0x2281, 0, true},
        {"older family", Fbc(0xA5), Fbc(0x00), 0x2532, -1, true},
        {"new block too short", Fbc(0xA5), std::vector<uint8_t>(0x800, 0), 0x2281, -1, true},
        {"data length past the block", Fbc(0xA5),
         [] {
             auto b = Fbc(0x00);
             b[13] = 0x40;
             return b;
         }(),
         0x2281, -1, true},
    };
    for (Case &c : cases) {
        SCOPED_TRACE(c.name);
        dev.chipProperty.PciDeviceId = c.device;
        EXPECT_EQ(CorePreserveFCBrdCfgData(&dev, c.running, c.fresh), c.result);
        if (c.settingsKept && c.fresh.size() > 3702) {
            EXPECT_EQ(c.fresh[448], 0x00);
            EXPECT_EQ(c.fresh[818], 0x00);
        }
    }
    EXPECT_EQ(CorePreserveFCBrdCfgData(nullptr, running, fresh), -1);
}

TEST(OnlineCapability, LibraryVersions) {
    struct Case {
        const char *text;
        bool parsed;
        int supported;
    } cases[] = {
        {"1.28.0.121", true, 0}, {"1.28.0.122", true, 1},   {"2.0.0.0", true, 1},     {"1.29.0.0", true, 1},
        {"1.28.122.0", true, 0}, {"1.27.9.999", true, 0},   {"1.28", true, 0},        {"3", false, 0},
        {"", false, 0},          {"v1.28.0.200", false, 0}, {"1.28.0.122b", true, 1}, {"0.99.0.500", true, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        LibraryVersion v;
        EXPECT_EQ(ParseLibraryVersion(c.text, v), c.parsed);
        EXPECT_EQ(IsOnlineActivationVersion(v), c.supported);
    }
}

TEST(OnlineCapability, DriversWithoutFlashUpdate) {
    struct Case {
        const char *driver;
        int result;
    } cases[] = {
        {"9.1.11.24", 1}, {"9.1.11.27", 1}, {"9.1.11.28", 1},  {"9.1.11.28.5", 1}, {"9,1,11,27", 1},
        {"9 1 11 24", 1}, {"9.1.11", 1},    {"9.1.11.25", 0},  {"9.1.12.24", 0},   {"9.2.11.24", 0},
        {"9.1.9.20", 0},  {"", 0},          {"10.1.11.24", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.driver);
        EXPECT_EQ(isWindowsServerFECImplDriverVersion(c.driver), c.result);
    }
    EXPECT_EQ(isWindowsServerFECImplDriverVersion(nullptr), 0);
}

} // namespace
