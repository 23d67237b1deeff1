// Steps the dual-bank update drivers (27xx Fenwar online and offline, 28xx
// Zult online) share: the adapter identity check, the image read, the
// validation and combining up to the planned region writes, the status
// region writes, the flash update session that is always ended, the
// activation, and the statuses of these drivers.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "image/imgversion.h"
#include "inventory/tvxdevice.h"
#include "multiregion/memoblock.h"
#include "multiregion/regionloop.h"

// Statuses of the dual-bank drivers.
enum : int {
    ONLINE_OK = 0,
    ONLINE_CANNOT_OPEN = 1,
    ONLINE_ID_MISMATCH = 11,
    ONLINE_NOT_ALL_REGIONS = 34,
    ONLINE_BOOT_UNREADABLE = 36,
    ONLINE_BIOS_DEFAULTS = 458,
    ONLINE_LAYOUT_UNREADABLE = 38,
    ONLINE_VPD_FAILED = 39,
    ONLINE_NO_MEMORY = 115,
    ONLINE_OK_RESET_NEEDED = 201,
    ONLINE_STATUS_FAILED = 203,
    ONLINE_AUX_STATUS_FAILED = 204,
    ONLINE_NOT_SUPPORTED = 286,
    ONLINE_STATUS_WRITE_FAILED = 514,
    ONLINE_NO_CARD_TYPE = 520,
    ONLINE_NOT_COMBINED = 521,
    ONLINE_NOT_VERIFIED = 522,
    ONLINE_ACTIVATION_FAILED_END = 523, // activation answered 0x20000063
    ONLINE_ACTIVATION_FAILED = 524,
    ONLINE_SESSION_OPEN = 525,
    ONLINE_PEP_BRDCFG_FAILED = 530,
    ONLINE_FC_BRDCFG_FAILED = 531,
    ONLINE_REGION_TOO_LONG = -4,
    ONLINE_OFFLINE_OK_REBOOT = 3010, // counted as success by the caller
};

// Waits of the dual-bank drivers (milliseconds).
constexpr unsigned ONLINE_REGION_WAIT_MS = 5000;
constexpr unsigned ONLINE_STATUS_REGION_WAIT_MS = 2000;
constexpr unsigned ONLINE_ZULT_AFTER_LOOP_MS = 4000;
constexpr unsigned ONLINE_ZULT_STATUS_WAIT_MS = 1000;
constexpr unsigned OFFLINE_AFTER_LOOP_EXTRA_MS = 10000;
constexpr unsigned ONLINE_VPD_WAIT_MS = 5000;
constexpr int ONLINE_MAX_REGIONS = 10; // a complete update writes at most this many
constexpr int SESSION_BUSY_MINUTES = 15;

// What a driver's validation needs of its family.
struct OnlineImageFamily {
    const char *driverName;
    const FamilyTable *table; // region steps for the shared loop
    int (*reporter)(std::span<const uint8_t>, std::span<const uint32_t>, uint16_t);
    int (*validator)(uint16_t, uint16_t, std::span<const uint8_t>, uint16_t);
    int (*combiner)(std::span<uint8_t>, std::span<uint8_t>, int, int, const CombineAdapter *);
};

// An adapter being updated and its image.
struct OnlineJob {
    TVXDevice *device = nullptr;
    const char *file = "";
    int inst = 0;
    std::string model;
    uint16_t ssdid = 0; // from NVRAM (equal to the PCI IDs once checked)
    uint16_t ssvid = 0;
    uint16_t chipRev = 0;
    uint16_t fcDeviceId = 0;
    std::vector<uint8_t> image;
    std::vector<uint8_t> flash;
    std::vector<TVX_REGION_ENTRY> layout;
    std::vector<PlannedWrite> plan;
    int cardType = -1;
};

// What tells the drivers apart in the steps they share.
struct OnlineDriver {
    const FamilyTable *table;  // region steps; its name prefixes the driver's log lines
    bool askCapabilities;      // the flash update capabilities are asked first (online updates)
    uint32_t attributeSupport; // support flag of the firmware attribute handed over (0: none)
    bool tellAttributeRefusal; // a refused hand-over is told at once, not only in the summary
    int maxRegions;            // a loop that wrote more is no complete update (0: no limit)
};

// The start of every driver: the Enter trace, the entry checks, the
// capability query of the online drivers (1203 with its message), the
// image and the layout. 0 or the status (message shown).
int StartOnlineJob(OnlineJob &job, const OnlineDriver &driver, TVXDevice *device, const char *imageFile);

// Entry checks of every dual-bank driver: an adapter, not a virtual port,
// subsystem IDs of PCI equal to those of NVRAM (status 11 with its
// message). 0 or the status.
int CheckOnlineAdapter(OnlineJob &job, TVXDevice *device, const char *imageFile);
// Reads the image file and the layout; 0, 1, 38 or 115 (message shown).
int ReadOnlineImageAndLayout(OnlineJob &job);
// Reads a whole region of the layout into out: 0 or the region primitives'
// status.
int ReadOnlineRegion(OnlineJob &job, uint32_t region, std::vector<uint8_t> &out);
// Logs the adapter's flash layout table version (region 0x1C).
void LogAdapterFlashLayoutVersion(OnlineJob &job);
// The boot code of the running set (0x07 of set 1, 0x09 of set 2) as the
// backup of region 0x07 whose BIOS default area the new code keeps. 0, or
// 36 with its message.
int ReadRunningBootCode(OnlineJob &job, int runningSet, std::vector<BootBackup> &backups);

// Validation, counting (chip revision aware), the family's walker, the
// combining and the planned writes with their fit, in this order. The
// walker is given the image, the expected count and the card type; the
// target maps an ILT code to the region written (0: not written). Shows
// "Validating Flash Image File... " with its result and, on failure, the
// status's message. 0, or 450, 505, 506, 507, 520, 521, 522, -4, 9, 115,
// 458 or the precheck's status.
// The region buffers are built once before any write: the BIOS default
// areas from the backups must carry over (458), and 'precheck' (may be
// empty) must accept each buffer (its status otherwise).
int PrepareOnlineImage(OnlineJob &job, const OnlineImageFamily &family, std::span<const uint32_t> sequence,
                       const std::function<int(std::span<const uint8_t>, int, int)> &walker,
                       const std::function<uint32_t(uint32_t)> &target, std::span<const BootBackup> backups,
                       const std::function<int(const PlannedWrite &, std::span<uint8_t>)> &precheck = {});

// The line before the first write; the image is released (the flash
// buffer holds what is written).
void BeginOnlineWrites(OnlineJob &job);
// Before the RISC firmware (0x01) is written, hands its firmware attribute
// over to the library; other regions pass. 0, or -1 when the library
// refused it (traced; told at once where the driver says so).
int HandOverFirmwareAttributes(OnlineJob &job, const OnlineDriver &driver, const PlannedWrite &w,
                               std::span<const uint8_t> region);
// The loop's status; 34 (message shown) for a loop that wrote nothing,
// fewer regions than planned or more than the driver's limit.
int CheckAllRegionsWritten(const OnlineJob &job, const OnlineDriver &driver, const LoopOutcome &loop);

// Writes one image status region: a buffer of its layout size, 0xFF, with
// the 16-byte record at its start. The library's answer; 0x20000100 sets
// *disableReset.
uint32_t WriteImageStatusRegion(OnlineJob &job, uint32_t region, std::span<const uint8_t> record,
                                uint16_t *disableReset);

// A flash update session that is always ended: Start opens it (0, 525 with
// the 15-minute message, or another failure as the library's status),
// End closes it once (false when the library refused; the message shown).
class FlashUpdateSession {
  public:
    explicit FlashUpdateSession(OnlineJob &job) : job_(job) {}
    ~FlashUpdateSession() { End(); }
    FlashUpdateSession(const FlashUpdateSession &) = delete;
    FlashUpdateSession &operator=(const FlashUpdateSession &) = delete;
    int Start();
    bool End();
    bool open() const { return open_; }

  private:
    OnlineJob &job_;
    uint32_t session_ = 0;
    bool open_ = false;
};

// Activation after the session is closed: 201 when resets are disabled
// (then no activation is asked for), else the activation's answer as a
// status: 0, 201 (0x20000100), 523 (0x20000063) or 524.
int ActivateOnlineUpdate(OnlineJob &job, uint16_t disableReset);

// Ends the session (a refusal makes a good update 524) and activates a
// good update (ActivateOnlineUpdate): the status.
int FinishOnlineSession(OnlineJob &job, FlashUpdateSession &session, int status, uint16_t disableReset);

// The summary of a completed update: 0 or 201 with VPD errors, 201 or 523
// (a reset makes the changes effective), 0. False for any other status
// (nothing shown).
bool ShowOnlineCompletion(int status, int vpdStatus);
// "Flash update failed on this HBA (Instance %d) with error (0x%x) (%s)!"
void ShowOnlineFailure(const OnlineJob &job, uint32_t code, const char *text);

// Refreshes the Fenwar FC VPD regions (0x14, 0x16, 0xD4, 0xD6) that hold
// a usable VPD, 5000 ms apart. 0 or 39.
int RefreshFenwarVpd(OnlineJob &job, const ImageVersionRecord &record, uint16_t disableReset);

// Flash memo versions of an image (ILT header).
void OnlineMemoVersions(std::span<const uint8_t> flash, FlashMemoVersions &out);
