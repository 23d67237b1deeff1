// In-memory model of a simulated host: cards, chips, ports, flash, targets,
// faults and the journal. Filled from the host description (sim_host.cpp)
// and served through the C interface (sim_api.cpp).
#pragma once

#include "sim_file.h"
#include "torvex.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tsim {

using Bytes = std::vector<uint8_t>;

// One answer of a SCSI command: library status and, for a check condition,
// the sense key / additional sense code / qualifier.
struct ScsiAnswer {
    uint32_t status = 0;
    uint8_t key = 0, asc = 0, ascq = 0;
};

// Up to 16 bytes held in place (a LUN's NAA identifier).
struct SmallBytes {
    uint8_t bytes[16] = {};
    uint8_t count = 0;
    const uint8_t *data() const { return bytes; }
    size_t size() const { return count; }
    uint8_t operator[](size_t i) const { return bytes[i]; }
    void assign(const uint8_t *p, size_t n) {
        count = uint8_t(n < sizeof bytes ? n : sizeof bytes);
        for (size_t i = 0; i < count; ++i)
            bytes[i] = p[i];
    }
};

// Scripted answers of a LUN.
struct LunScript {
    std::vector<ScsiAnswer> tur; // consumed one per TEST UNIT READY
    ScsiAnswer turThen;          // after the sequence
    size_t turPos = 0;
    std::vector<ScsiAnswer> capacity; // consumed per READ CAPACITY; then ok
    size_t capacityPos = 0;
};

// A host may list hundreds of thousands of LUNs: a LUN keeps its fixed data
// in place and allocates only for scripted answers.
struct Lun {
    uint16_t number = 0;
    bool reserved = false;
    uint32_t inquiryStatus = 0;
    std::array<uint8_t, 36> inquiry{}; // standard INQUIRY data
    SmallBytes deviceId;               // NAA identifier for page 0x83 (8 or 16 bytes)
    uint32_t blockSize = 512;
    uint64_t blocks = 0;               // number of logical blocks
    std::unique_ptr<LunScript> script; // null: every command answers ready
};

struct Target {
    uint8_t nodeWwn[8] = {};
    uint8_t portWwn[8] = {};
    uint8_t portId[3] = {};
    uint16_t word1 = 0, word2 = 0;
    uint8_t marker = 0;
    bool discovered = true;             // listed by TvxGetDiscTargetProperty
    std::vector<ScsiAnswer> reportLuns; // consumed per REPORT LUNS; then ok
    size_t reportLunsPos = 0;
    std::vector<Lun> luns;
    // LUN lookup: luns[i] has number i, else lunsByNumber (number, place),
    // sorted, the first of equal numbers first. Made by IndexTargets.
    bool lunsInOrder = true;
    std::vector<std::pair<uint16_t, uint32_t>> lunsByNumber;
};

struct PortDbEntry {
    uint8_t nodeWwn[8] = {};
    uint8_t portWwn[8] = {};
    uint8_t portId[3] = {};
    uint16_t word1 = 0, word2 = 0;
    uint8_t marker = 0;
};

// How the initial contents of a region are made when no state file exists.
struct RegionInit {
    enum Kind { Fill, File, Vpd, Boot, Firmware } kind = Fill;
    uint8_t fill = 0xFF;
    std::filesystem::path file; // File: bytes from offset 0, the rest fill
    // Vpd
    std::string vpdId;
    std::vector<std::pair<std::string, std::string>> vpdRo, vpdRw;
    // Boot: version (major, minor) per code type, present flags
    bool hasBios = false, hasFcode = false, hasEfi = false;
    uint8_t bios[2] = {}, fcode[2] = {}, efi[2] = {};
    uint16_t deviceId = 0;
    // Boot: BIOS default area of the BIOS image ("SVID" and its two bytes at
    // 28-33; with settings, "MECXR " at 0x200 and 508 bytes of settings)
    bool hasBiosDefaults = false, biosSettings = false;
    uint8_t biosSvid[2] = {};
    // Firmware
    uint8_t fw[3] = {};
    std::string fwChip;  // e.g. "2532": marker CXR25xxFirmware
    bool hasMbi = false; // multi-boot version block at 0x3FFC0
    uint8_t mbi[3] = {};
    bool hasStatus = false; // image status record at offset 0
    uint8_t statusMask = 0;
    uint16_t statusGeneration = 0;
    uint32_t statusSignature = 0xFACEFADEu;
    uint8_t statusBitmap = 0;
    // Dual-bank contents over the region (sim_dualbank.cpp): a flash memo
    // block at offset 0, a flash descriptor table at fdtOffset.
    bool hasMemo = false;
    uint8_t memoMbi[3] = {}, memoFfv[4] = {};
    std::string memoDate; // "YYYYMMDD"
    bool hasFdt = false;
    uint32_t fdtOffset = 0x3F0000;
    uint8_t fdtFlashId[4] = {0xEF, 0x00, 0x18, 0x40};
    uint8_t fdtErase[2] = {0x20, 0x20};
};

struct Region {
    uint32_t code = 0;
    uint32_t size = 0;
    uint64_t offset = 0; // flash offset
    bool whole = false;  // code 0xFF: a view of the whole flash
    RegionInit init;
};

// Versions a driver reads from the chip's flash.
struct FlashVersions {
    bool bios = false, fcode = false, efi = false, fw = false;
    uint8_t biosV[2] = {}, fcodeV[2] = {}, efiV[2] = {}, fwV[3] = {};
};

struct Chip {
    std::string dirName;         // <card>-<chip>: state folder of its flash
    std::vector<Region> regions; // layout order
    uint64_t flashSize = 0;
    bool partialWrites = false;
    enum ResetMode { OnRequest, Always, Never } resetMode = OnRequest;
    std::optional<uint32_t> updateCaps; // none: not supported
    std::optional<TVX_ACTIVE_REGIONS> activeOverride;
    uint32_t vpdRegion = 0; // 0: inline VPD below
    Bytes vpdInline;
    std::optional<uint32_t> bootRegion, fwRegion; // version sources
    bool sessionOpen = false;
    bool sessionBusy = false; // another owner holds a session
    uint32_t sessionId = 0;
    uint32_t sessionHandle = 0;
    std::map<uint32_t, Bytes> overlay;         // regions written in read-only mode
    uint64_t generation = 1;                   // changes with every write
    std::map<uint32_t, uint64_t> regionWrites; // writes per region code so far
    uint64_t versionsGen = 0;                  // generation the cached versions belong to
    FlashVersions versions;
    // Dual-bank chips run one set until activation or a reset; the node
    // property reports that set's versions (sim_dualbank.cpp).
    bool runningLatched = false;
    uint8_t runningSet = 1;
    uint16_t runningGeneration = 0;
    FlashVersions runningVersions;
};

struct Port {
    std::string cardName;
    int cardIndex = 0, chipIndex = 0, portIndex = 0;
    Chip *chip = nullptr;
    enum OpenMode { Ready, NotReady, Fail } openMode = Ready;
    int notReadyLeft = 0;
    uint32_t openFailStatus = TVX_ERR_GENERAL;
    TVX_CHIP_PROPERTY chipProp{};
    TVX_DRIVER_PROPERTY driverProp{};
    TVX_NODE_PROPERTY nodeProp{};
    TVX_PORT_PROPERTY portProp{};
    bool autoOptRom = true, autoFlags = true, autoFw = true, autoEfi = true, autoFcode = true;
    bool autoRunningFw = true;
    bool runningFwFixed = false;
    bool autoTargetCount = true;
    std::optional<uint32_t> beacon;
    TVX_STATISTICS stats{};
    uint8_t nvram[2][TVX_NVRAM_SIZE] = {};
    std::vector<TVX_FEATURE_ENTRY> features;
    std::vector<Target> targets;
    // Target lookup by port name ((name, place), sorted, the first of equal
    // names first) and the discovered targets in list order; made by
    // IndexTargets.
    std::vector<std::pair<uint64_t, uint32_t>> targetsByWwn;
    std::vector<uint32_t> discoveredTargets;
    size_t lastTarget = SIZE_MAX; // the target FindTarget found last, and its name
    uint64_t lastTargetKey = 0;
    bool portDbFromTargets = true;
    std::map<uint32_t, std::vector<PortDbEntry>> portDb;
    std::vector<TVX_FO_TARGET_DATA> foTargets;
    std::vector<TVX_FO_LUN_DATA> foLuns;
    bool aenSupported = true;
};

struct Card {
    std::string name;
    std::vector<std::unique_ptr<Chip>> chips;
};

struct Fault {
    std::string op; // function name, or "write", "read", "open", "any"
    std::optional<int> instance;
    std::optional<uint32_t> region;
    uint32_t skip = 0;
    std::vector<uint32_t> statuses;
    std::optional<uint32_t> then;
    uint64_t seen = 0; // matching calls so far (this process only)
};

struct Host {
    std::filesystem::path file, dir, stateDir, journal;
    File journalOut; // the journal, once a line was written (unbuffered)
    std::string version = "1.28.122.0";
    bool journalAll = false;
    bool readOnly = false;
    std::vector<std::unique_ptr<Card>> cards;
    std::vector<Port> ports; // instance order
    std::vector<Fault> faults;
    uint64_t powerCutAfter = 0;  // 0: none
    uint64_t interruptAfter = 0; // 0: none
    bool interruptBreak = false; // the interrupt is a Ctrl-Break, not a Ctrl-C
    uint64_t flashWrites = 0;
    // Digests of recent region writes whose region still holds the data
    // (sim_calls.cpp): a fleet gets the same image many times.
    struct WriteDigest {
        uint64_t digest = 0;
        uint32_t size = 0;
        Chip *chip = nullptr;
        uint32_t code = 0;
        uint64_t writes = 0; // chip->regionWrites[code] right after the write
    };
    std::vector<WriteDigest> recentDigests;
};

// Loads a host description; on failure returns null and sets error to one
// message that names the file and the field.
std::unique_ptr<Host> LoadHost(const std::filesystem::path &file, std::string &error);

// Flash access (sim_flash.cpp). Codes must name a region of the chip.
const Region *FindRegion(const Chip &chip, uint32_t code);
bool ReadRegion(const Host &host, Chip &chip, const Region &r, uint64_t off, uint8_t *out, size_t len);
bool WriteRegion(Host &host, Chip &chip, const Region &r, uint64_t off, const uint8_t *data, size_t len);
bool ReadFlash(const Host &host, Chip &chip, uint64_t off, uint8_t *out, size_t len);
// Whether the written contents of a region (its copy in read-only mode, else
// its state file) start with exactly data; false when there are none.
bool WrittenRegionHolds(const Host &host, Chip &chip, const Region &r, const uint8_t *data, size_t len);
bool WriteFlash(Host &host, Chip &chip, uint64_t off, const uint8_t *data, size_t len);
// Copies the bytes of src, placed at offset `at` of a region, that fall into
// the window [off, off + len) of the region held in out.
void PutPiece(uint8_t *out, uint64_t off, size_t len, uint64_t at, const uint8_t *src, size_t n);
uint32_t RegionSource(const Host &host, const Chip &chip, const Region &r);
// A PCI VPD image padded with zeros (or cut) to size bytes; size 0: as long
// as its fields make it.
Bytes BuildVpd(const std::string &id, const std::vector<std::pair<std::string, std::string>> &ro,
               const std::vector<std::pair<std::string, std::string>> &rw, size_t size);

FlashVersions ReadFlashVersions(const Host &host, Chip &chip);
// Versions of the primary set, or of the secondary set when second is set.
FlashVersions ReadSetVersions(const Host &host, Chip &chip, bool second);
TVX_ACTIVE_REGIONS DeriveActiveRegions(const Host &host, Chip &chip, bool &known);
// Active regions as the status records designate them (no scripted
// answer); *generation gets the active set's generation.
TVX_ACTIVE_REGIONS DeriveFromRecords(const Host &host, Chip &chip, bool &known, uint16_t *generation);

// Dual-bank chips (sim_dualbank.cpp): a chip with image status regions
// 0x95 and 0x96.
bool IsDualBank(const Chip &chip);
// Memo block and descriptor table over generated region contents: puts
// what falls into the window [off, off + len) of the region into out.
bool HasGeneratedOverlay(const RegionInit &in);
void ApplyDualBankContents(const Region &r, uint64_t off, uint8_t *out, size_t len);
// The running set's versions: latched on first use (from the state folder
// when an earlier process left it there, else from the records).
const FlashVersions &RunningVersions(const Host &host, Chip &chip);
// Activation or reset: the chip now runs the set the records designate.
void RelatchRunningSet(const Host &host, Chip &chip);

uint64_t Fnv1a64(const uint8_t *data, size_t len);

// Makes the lookup tables of a port's targets and their LUNs (sim_scsi.cpp),
// once its targets are known.
void IndexTargets(Port &p);
// The target answering at a port name, and a LUN of a target (null: none).
Target *FindTarget(Port &p, const uint8_t portWwn[8]);
Lun *FindLun(Target &t, uint16_t lun);

} // namespace tsim
