// The region-write loop of the multi-region families and the per-family
// tables that configure it: the update sequence, what each region code gets
// (layout table appended, BIOS default area carried over, chip revision
// gates), through which write wrapper it goes, the progress text, the
// failure status, the waits, the count rule, the memo block and the VPD
// refresh steps. One loop serves every family; the families differ only
// in their tables.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "image/ilt.h"
#include "image/imgversion.h"
#include "inventory/tvxdevice.h"
#include "multiregion/combine.h"

// Status codes of the converged drivers.
enum : int {
    CNA_OK = 0,
    CNA_CANNOT_OPEN = 1,
    CNA_NOT_ALL_REGIONS = 34,
    CNA_BOOT_UNREADABLE = 36,
    CNA_EMPTY_LAYOUT = 37,
    CNA_LAYOUT_UNREADABLE = 38,
    CNA_VPD_FAILED = 39,
    CNA_NO_MEMORY = 115,
    CNA_OK_RESET_DISABLED = 201,
    CNA_NOT_VERIFIED = 452,
    CNA_NOT_COMBINED = 453,
    CNA_NO_VPD_REGION = 454,
    CNA_BIOS_DEFAULTS = 458,
    CNA_REGION_TOO_LONG = -4, // a component longer than its flash region
};

// Write wrappers a region goes through.
enum class WriteWrapper {
    Ethernet,     // EthernetUpdateOptionRom
    FC,           // FCUpdateOptionRom
    EthernetLark, // EthernetUpdateLarkOptionRom
    FCLark,       // FCUpdateLarkOptionRom
    Direct,       // AppUpdateOptionRomEx3 (reset-disabled answer sets the driver's flag)
};

// What a region code gets in the loop.
struct RegionStep {
    uint32_t code;
    const char *progress; // first half of the progress line
    int failStatus;       // status of a failed write
    WriteWrapper wrapper;
    bool appendIlt;    // the flash buffer's layout table follows the component
    bool biosDefaults; // the region's BIOS default area is carried over
    bool crbGate;      // only entries of chip revision 0 or the adapter's
    bool chipRevGate;  // ValidateImageChipRevision must pass
    bool vpd;          // passed over: the VPD refresh writes it
    unsigned waitMs;   // after the write
};

// VPD refresh routines the drivers call after the loop.
enum class VpdRefresh { FcPair, NicPair, Lark, TeskFc };

struct VpdStep {
    uint32_t region;
    const char *progress;
    VpdRefresh routine;
    unsigned waitBeforeMs; // before this step, when an earlier step ran
};

// How the written count is judged after the loop.
enum class CountRule {
    Exact,  // exactly 'expected' regions (status 0 or reset-disabled required)
    AtMost, // at most 'expected' regions (and at least one)
    None,   // no count check (at least one region)
};

// Header validator, reporter, card-type, counter, walker and combiner of a
// family (the formats' functions with one shape).
using HeaderValidator = int (*)(uint16_t ssdid, uint16_t ssvid, std::span<const uint8_t> image, uint16_t chipRev);
using RegionsReporter = int (*)(std::span<const uint8_t> ilt, std::span<const uint32_t> sequence, uint16_t chipRev);
using CardTypeOf = int16_t (*)(std::span<const uint8_t> ilt, uint16_t ssdid, uint16_t ssvid);
using ComponentWalker = int (*)(std::span<const uint8_t> image, int expected, int cardType, ImageVersionRecord *record,
                                uint16_t chipRev);
using Combiner = int (*)(std::span<uint8_t> flash, std::span<uint8_t> image, int expected, int cardType,
                         const CombineAdapter *adapter);

struct FamilyTable {
    const char *driverName; // prefix of the driver's log lines
    // Fills the update sequence for the adapter's chip revision.
    std::vector<uint32_t> (*sequence)(uint16_t chipRev);
    std::span<const RegionStep> steps;
    // Boot regions whose current contents are read for the BIOS default area.
    std::span<const uint32_t> bootRegions;
    std::span<const char *const> bootReadFailures; // message per boot region ("%d", "%s")
    bool passChipRev;                              // the validators see the chip revision (first generation: 0)
    RegionsReporter reporter;                      // null: none
    HeaderValidator validator;
    CardTypeOf cardType;
    bool countByChipRev; // HowManyImagesForCardTypeGeneric
    ComponentWalker walker;
    Combiner combiner;
    CountRule countRule;
    int expectedCount; // regions a complete update writes
    unsigned afterLoopWaitMs;
    bool memoBlock; // rewrite the flash memo block after the loop
    std::span<const VpdStep> vpdSteps;
};

extern const FamilyTable kFirstGenFamily;
extern const FamilyTable kLarkFamily;
extern const FamilyTable kTeskFamily;

// Update sequences (every slot is logged).
void InitLarkFlashUpdateSequence(uint32_t *seq, size_t count, uint16_t chipRev);
void InitTeskPFlashUpdateSequence(uint32_t *seq, size_t count);
std::vector<uint32_t> FirstGenFlashUpdateSequence(uint16_t chipRev);
std::vector<uint32_t> LarkFlashUpdateSequence(uint16_t chipRev);
std::vector<uint32_t> TeskFlashUpdateSequence(uint16_t chipRev);

// The step of a region code in a family (null: the family has none).
const RegionStep *FindRegionStep(const FamilyTable &family, uint32_t code);

// One region write the loop will make.
struct PlannedWrite {
    const RegionStep *step;
    IltRegionEntry entry;
    uint32_t regionSize; // 0 when the adapter's layout lacks the region
    size_t copyLength;   // component bytes, plus the layout table where appended
    uint32_t target = 0; // region written; 0: the step's code
};

// Walks the sequence and the flash buffer's layout table as the loop does
// and lists the writes in order: entries of the sequence code that apply to
// the card type and pass the step's gates. Nothing when the queued request
// does not name every region.
std::vector<PlannedWrite> PlanRegionWrites(const FamilyTable &family, std::span<const uint32_t> sequence,
                                           std::span<const uint8_t> flash, const std::vector<TVX_REGION_ENTRY> &layout,
                                           int cardType, uint16_t chipRev, uint32_t requestRegion);
// 0 when every planned write fits its flash region; CNA_REGION_TOO_LONG
// (traced) for the first that does not or whose region the adapter lacks.
int CheckPlannedWritesFit(const char *driverName, std::span<const PlannedWrite> plan, size_t flashSize);

// Current contents of the boot regions that carry a BIOS default area.
struct BootBackup {
    uint32_t region;
    std::vector<uint8_t> data;
};

// The region buffer of a planned write: the component, the layout table
// where the step appends it, 0xFF to the region's end, and the BIOS
// default area carried from the adapter's current contents. 0, 458 (the
// area cannot be carried), 115 or -4.
int BuildRegionBuffer(const TVXDevice *device, const PlannedWrite &w, std::span<const uint8_t> flash,
                      std::span<const BootBackup> backups, std::vector<uint8_t> &region);
// Builds every boot region buffer of the plan once before the first write,
// so a BIOS default area that cannot be carried stops the update while the
// flash is untouched: 0 or the first failure of BuildRegionBuffer.
int CheckBiosDefaultAreas(const TVXDevice *device, std::span<const PlannedWrite> plan, std::span<const uint8_t> flash,
                          std::span<const BootBackup> backups);

struct LoopOutcome {
    int status = 0;             // 0, or the failed region's status
    uint32_t libStatus = 0;     // the library's answer of the last write
    int written = 0;            // regions written
    bool resetDisabled = false; // the last write answered 0x20000100
};

// What a driver adds to the loop for one write (every member may be empty).
struct RegionLoopHooks {
    // Progress text of the write (empty result: the step's own text).
    std::function<std::string(const PlannedWrite &)> progress;
    // Runs on the filled region buffer just before the write: 0 writes it,
    // any other value stops the loop with the step's failure status.
    std::function<int(const PlannedWrite &, std::span<uint8_t>)> beforeWrite;
    // Runs after a write the library accepted.
    std::function<void(const PlannedWrite &)> afterWrite;
    // Replaces the loop's failure message of a refused write.
    std::function<void(const PlannedWrite &, uint32_t libStatus)> failed;
};

// Writes the planned regions in order, one region buffer at a time, with
// the progress lines, waits and messages of the family. Stops at the first
// failure.
LoopOutcome RunRegionLoop(TVXDevice *device, const FamilyTable &family, std::span<const PlannedWrite> plan,
                          std::span<const uint8_t> flash, std::span<const BootBackup> backups, uint16_t &disableReset,
                          const RegionLoopHooks *hooks = nullptr);

// Carries the BIOS default area of the current boot region into the new
// region buffer: 0, or -1 (adapter of an older class, or an image length
// that is 0 or beyond the region).
int PreserveBiosDefaultArea(const TVXDevice *device, std::span<const uint8_t> current, std::span<uint8_t> region);

// Lark write wrappers: write when the request names every region and the
// code is one of the wrapper's, or the request names exactly this code;
// else 8 (Ethernet) or 19 (FC) without writing.
uint32_t EthernetUpdateLarkOptionRom(TVXDevice *device, const uint8_t *buffer, uint32_t region, uint32_t size,
                                     uint16_t options);
uint32_t FCUpdateLarkOptionRom(TVXDevice *device, const uint8_t *buffer, uint32_t region, uint32_t size,
                               uint16_t options);
