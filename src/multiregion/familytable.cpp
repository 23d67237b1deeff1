// The tables of the three converged families: what the region loop writes,
// in which order, how, and what follows it.
#include <array>

#include "app/output.h"
#include "image/components.h"
#include "image/ilt.h"
#include "multiregion/regionloop.h"
#include "update/regions.h"

namespace {

using W = WriteWrapper;

constexpr unsigned kFirstGenWait = 1000;
constexpr unsigned kFirstGenBootWait = 2000;
constexpr unsigned kFirstGenMpiWait = 1000 + 10000; // the MPI restarts on its new firmware
constexpr unsigned kRegionWait = 5000;              // Lark and Tesk

// code, progress, fail status, wrapper, ILT, BIOS defaults, CRB gate, chip gate, VPD, wait
constexpr RegionStep kFirstGenSteps[] = {
    {0x2E, "Updating Adapter NIC Boot Code... ", 455, W::Ethernet, true, false, false, false, false, kFirstGenWait},
    {0x41, "Updating Adapter NIC MPI Config Parameters... ", 460, W::Ethernet, false, false, false, false, false,
     kFirstGenWait},
    {0x45, "Updating Adapter NIC EDC FW... ", 457, W::Ethernet, false, false, false, false, false, kFirstGenWait},
    {0x40, "Updating Adapter NIC MPI FW... ", 456, W::Ethernet, false, false, false, false, false, kFirstGenMpiWait},
    {0x07, "Updating Adapter FCoE Boot Code... ", 458, W::FC, true, true, false, false, false, kFirstGenBootWait},
    {0x01, "Updating Adapter FW... ", 459, W::FC, false, false, false, true, false, kFirstGenWait},
};

constexpr RegionStep kLarkSteps[] = {
    {0x07, "Updating Adapter FCoE Boot Code... ", 458, W::FCLark, true, true, false, false, false, kRegionWait},
    {0x4F, "Updating Adapter iSCSI Boot Code... ", 501, W::FCLark, true, false, false, false, false, kRegionWait},
    {0x2E, "Updating Adapter NIC Boot Code... ", 502, W::EthernetLark, true, false, false, false, false, kRegionWait},
    {0x70, "Updating Adapter CRBInit... ", 503, W::FCLark, false, false, true, true, false, kRegionWait},
    {0x72, "Updating Adapter BootLoader... ", 504, W::FCLark, false, false, false, false, false, kRegionWait},
    {0x73, "Updating Adapter PEGTune ... ", 500, W::FCLark, false, false, false, false, false, kRegionWait},
    {0x74, "Updating Adapter FW... ", 459, W::FCLark, false, false, false, true, false, kRegionWait},
    {0x97, "Updating Adapter FW... ", 459, W::FCLark, false, false, false, true, false, kRegionWait},
    {0x81, "", 0, W::FCLark, false, false, false, false, true, 0},
};

constexpr RegionStep kTeskSteps[] = {
    {0x07, "Updating Adapter FC Boot Code... ", 458, W::Direct, true, true, false, false, false, kRegionWait},
    {0x2E, "Updating Adapter NIC Boot Code... ", 502, W::Direct, true, false, false, false, false, kRegionWait},
    {0xA2, "Updating Adapter FCoE Boot Code... ", 458, W::Direct, true, true, false, false, false, kRegionWait},
    {0x4F, "Updating Adapter iSCSI Boot Code... ", 501, W::Direct, true, false, false, false, false, kRegionWait},
    {0x70, "Updating Adapter CRBInit... ", 503, W::Direct, false, false, true, true, false, kRegionWait},
    {0x72, "Updating Adapter BootLoader... ", 504, W::Direct, false, false, false, false, false, kRegionWait},
    {0x73, "Updating Adapter PEGTune ... ", 500, W::Direct, false, false, false, false, false, kRegionWait},
    {0xA4, "Updating Adapter FCoE FW... ", 459, W::Direct, false, false, false, true, false, kRegionWait},
    {0x01, "Updating Adapter FC FW... ", 459, W::Direct, false, false, false, true, false, kRegionWait},
    {0x97, "Updating Adapter NIC/CNA FW... ", 459, W::Direct, false, false, false, true, false, kRegionWait},
    {0x81, "", 0, W::Direct, false, false, false, false, true, 0},
    {0x14, "", 0, W::Direct, false, false, false, false, true, 0},
    {0x16, "", 0, W::Direct, false, false, false, false, true, 0},
};

constexpr uint32_t kBootFcoe[] = {0x07};
constexpr const char *kBootFcoeNames[] = {""};
constexpr uint32_t kBootTesk[] = {0x07, 0xA2};
constexpr const char *kBootTeskNames[] = {"FC ", "FCoE "};

constexpr VpdStep kFirstGenVpd[] = {
    {0x14, "Updating Adapter FCoE VPD... ", VpdRefresh::FcPair, 0},
    {0x2C, "Updating Adapter NIC VPD... ", VpdRefresh::NicPair, 0},
};
constexpr VpdStep kLarkVpd[] = {
    {0x81, "Updating Adapter VPD... ", VpdRefresh::Lark, 0},
};
constexpr VpdStep kTeskVpd[] = {
    {0x81, "Updating Adapter NIC/CNA VPD... ", VpdRefresh::Lark, 0},
    {0x14, "Updating Adapter FC VPD... ", VpdRefresh::TeskFc, 0},
    {0x16, "Updating Adapter FC VPD... ", VpdRefresh::TeskFc, 5000},
};

constexpr uint32_t kFirstGenSequence[] = {0x2E, 0x41, 0x45, 0x40, 0x07, 0x01};
constexpr size_t kLarkSlots = 8;
constexpr size_t kTeskSlots = 13;

int FirstGenWalker(std::span<const uint8_t> image, int expected, int cardType, ImageVersionRecord *record,
                   uint16_t /*chipRev*/) {
    return ValidateImageComponents(image, expected, cardType, record);
}

} // namespace

void InitLarkFlashUpdateSequence(uint32_t *seq, size_t count, uint16_t chipRev) {
    const uint32_t list[kLarkSlots] = {0x07, 0x4F, 0x2E, 0x70, 0x72, 0x73, chipRev == 0x54 ? 0x74u : 0x97u, 0x81};
    for (size_t i = 0; i < count && i < kLarkSlots; ++i) {
        seq[i] = list[i];
        OutputLevelMessage(LEVEL_DEBUG, "InitLarkFlashUpdateSequence: %zu: 0x%x", i, seq[i]);
    }
}

void InitTeskPFlashUpdateSequence(uint32_t *seq, size_t count) {
    static constexpr uint32_t list[kTeskSlots] = {0x07, 0x2E, 0xA2, 0x4F, 0x70, 0x72, 0x73,
                                                  0xA4, 0x01, 0x97, 0x81, 0x14, 0x16};
    for (size_t i = 0; i < count && i < kTeskSlots; ++i) {
        seq[i] = list[i];
        OutputLevelMessage(LEVEL_DEBUG, "InitTeskPFlashUpdateSequence: %zu: 0x%x", i, seq[i]);
    }
}

std::vector<uint32_t> FirstGenFlashUpdateSequence(uint16_t /*chipRev*/) {
    return {std::begin(kFirstGenSequence), std::end(kFirstGenSequence)};
}

std::vector<uint32_t> LarkFlashUpdateSequence(uint16_t chipRev) {
    std::vector<uint32_t> seq(kLarkSlots, 0);
    InitLarkFlashUpdateSequence(seq.data(), seq.size(), chipRev);
    return seq;
}

std::vector<uint32_t> TeskFlashUpdateSequence(uint16_t /*chipRev*/) {
    std::vector<uint32_t> seq(kTeskSlots, 0);
    InitTeskPFlashUpdateSequence(seq.data(), seq.size());
    return seq;
}

const FamilyTable kFirstGenFamily = {
    "CNAOptionROMRegionUpdate",
    FirstGenFlashUpdateSequence,
    kFirstGenSteps,
    kBootFcoe,
    kBootFcoeNames,
    false,
    nullptr,
    ValidateILTImageHeader,
    ILT_CardTypeList_GetMyCardTypeFromCardList,
    false,
    FirstGenWalker,
    CombineImageComponentsInBuffer,
    CountRule::None,
    0,
    1000,
    false,
    kFirstGenVpd,
};

const FamilyTable kLarkFamily = {
    "CNALarkORevA0ptionROMRegionUpdate",
    LarkFlashUpdateSequence,
    kLarkSteps,
    kBootFcoe,
    kBootFcoeNames,
    true,
    ValidateILTImageRegionsToUpdate,
    ValidateILTImageHeader,
    ILT_LarkCardTypeList_GetMyCardTypeFromCardList,
    false,
    ValidateLarkImageComponents,
    CombineLarkImageComponentsInBuffer,
    CountRule::Exact,
    7,
    5000,
    false,
    kLarkVpd,
};

const FamilyTable kTeskFamily = {
    "CNATeskOptionROMRegionUpdate",
    TeskFlashUpdateSequence,
    kTeskSteps,
    kBootTesk,
    kBootTeskNames,
    true,
    ValidateTeskILTImageRegionsToUpdate,
    ValidateTeskILTImageHeader,
    ILT_TeskCardTypeList_GetMyCardTypeFromCardList,
    true,
    ValidateTeskImageComponents,
    CombineTeskImageComponentsInBuffer,
    CountRule::AtMost,
    10,
    10000,
    true,
    kTeskVpd,
};

const RegionStep *FindRegionStep(const FamilyTable &family, uint32_t code) {
    for (const RegionStep &s : family.steps)
        if (s.code == code) return &s;
    return nullptr;
}
