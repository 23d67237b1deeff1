// Default update run, per-adapter update and the whole-option-ROM update
// of the oldest FC adapters.

#include "update/updaterun.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "app/output.h"
#include "app/settings.h"
#include "image/bootpatch.h"
#include "image/helpers.h"
#include "image/pcirom.h"
#include "inventory/adapters_table.h"
#include "inventory/bootsan.h"
#include "inventory/cxrtype.h"
#include "inventory/unopened.h"
#include "multiregion/capabilities.h"
#include "multiregion/cna_drivers.h"
#include "multiregion/online.h"
#include "oss/oss.h"
#include "update/flashctr.h"
#include "update/imagefile.h"
#include "update/optionrom.h"
#include "update/policy.h"
#include "update/scratch.h"
#include "update/targeted.h"

namespace {

#define WWN_FMT "%02X-%02X-%02X-%02X-%02X-%02X-%02X-%02X"
#define WWN_ARGS(w) (w)[0], (w)[1], (w)[2], (w)[3], (w)[4], (w)[5], (w)[6], (w)[7]

constexpr int STATUS_NO_UPDATE_NEEDED = 2;
constexpr int STATUS_NOT_ON_HOST = 3;
constexpr int STATUS_NOT_SUPPORTED = 4;
constexpr int STATUS_NOT_SUPPORTED_KIND = 7;
constexpr int STATUS_NO_ADAPTER = 8;
constexpr int STATUS_UNKNOWN_TYPE = 9;
constexpr int STATUS_INBOX_DRIVER = 120;
constexpr int STATUS_VIRTUAL_PORT = 286;

constexpr uint32_t STD_BIOS_MAX = 0x20000;

std::string ErrorText(uint32_t status) {
    char text[256] = {};
    TvxGetErrorString(status, text, sizeof(text));
    text[sizeof(text) - 1] = '\0';
    return text;
}

bool IsIA64Host() { return isHostOSType("IA64") != 0 || isHostOSType("ia64") != 0; }

bool IsInboxDriver(const TVXDevice *device) { return isInboxDriverVersion(device->nodeProperty.DriverVersion) != 0; }

// Model text of the messages: "-S" appended for SUN-branded adapters.
std::string ModelText(const TVXDevice *device) {
    std::string text(device->nodeProperty.Model,
                     strnlen(device->nodeProperty.Model, sizeof(device->nodeProperty.Model)));
    if (isSunAdapter(device) != 0 && text.find("-S") == std::string::npos) text += "-S";
    return text;
}

// Second chip of a card of three or more ports: another port of the card
// with an odd port number above 2.
TVXDevice *FindSecondChip(TVXDevice *device) {
    if (CountAdapterPorts(device) < 3) return nullptr;
    const std::string serial = PortSerialNumber(device);
    for (TVXDevice *r = g_HBAList.first; r != nullptr; r = r->next) {
        if (r == device) continue;
        if (std::memcmp(r->portProperty.PortWWN, device->portProperty.PortWWN, 8) == 0) continue;
        if (r->physicalPort <= 2 || (r->physicalPort % 2) == 0) continue;
        if (SameSerialNumber(PortSerialNumber(r), serial)) return r;
    }
    return nullptr;
}

// A chip's ports are the PCI functions 2k and 2k+1 of one PCI device; a
// two-chip card shows functions 0-3.
struct ChipKey {
    uint16_t bus = 0;
    uint16_t device = 0;
    uint16_t pair = 0;
    bool operator==(const ChipKey &) const = default;
};

ChipKey ChipOf(const TVXDevice *d) {
    const uint16_t slot = d->chipProperty.PciSlotNumber;
    return {d->chipProperty.PciBusNumber, static_cast<uint16_t>(slot & 15u),
            static_cast<uint16_t>(((slot >> 5) & 7u) / 2)};
}

bool IsFirstPortOfChip(const TVXDevice *d) { return ((d->chipProperty.PciSlotNumber >> 5) & 1u) == 0; }

// The first port of d's chip is in the HBA list (its own versions decided
// whether the chip is updated).
bool HasFirstPortOfChip(const TVXDevice *d) {
    for (const TVXDevice *r = g_HBAList.first; r != nullptr; r = r->next)
        if (r != d && IsFirstPortOfChip(r) && ChipOf(r) == ChipOf(d)) return true;
    return false;
}

// Chips whose update this run started (written, or failed on the way).
std::vector<ChipKey> g_triedChips;

bool ChipTried(const TVXDevice *d) {
    const ChipKey k = ChipOf(d);
    for (const ChipKey &t : g_triedChips)
        if (t == k) return true;
    return false;
}

void NoteChipTried(const TVXDevice *d) {
    if (d != nullptr && !ChipTried(d)) g_triedChips.push_back(ChipOf(d));
}

// Queues the request, runs update on the adapter and then on the second
// chip (after a failure too when secondAfterFailure), refreshes the version
// fields of the last adapter updated and frees the queued request. Returns
// the last status. regionWord null queues the request without region.
template <typename Update>
int RunOnAdapterAndSecondChip(TVXDevice *device, TVXDevice *secondChip, const char *imageFile, const char *regionWord,
                              bool secondAfterFailure, int &updated, Update update) {
    int st = addUserOptionROMRequest(regionWord, imageFile);
    if (st != 0) {
        freeUserOptionROMReq();
        return st;
    }
    TVXDevice *last = nullptr;
    st = update(device);
    const bool ok = st == 0 || st == OPTROM_OK_RESET_DISABLED;
    if (ok) {
        ++updated;
        last = device;
    }
    if (secondChip != nullptr && (ok || secondAfterFailure)) {
        st = update(secondChip);
        if (st == 0 || st == OPTROM_OK_RESET_DISABLED) {
            ++updated;
            last = secondChip;
        }
    }
    if (last != nullptr) UpdateHBADeviceNodeProperty(last);
    freeUserOptionROMReq();
    return st;
}

using AdapterUpdate = int (*)(TVXDevice *, const char *);

// One classic update routine on the adapter and then, after a success, on
// the second chip.
int RunQueuedUpdate(TVXDevice *device, TVXDevice *secondChip, const char *imageFile, const char *regionWord,
                    AdapterUpdate update, int &updated) {
    NoteChipTried(device);
    NoteChipTried(secondChip);
    return RunOnAdapterAndSecondChip(device, secondChip, imageFile, regionWord, false, updated,
                                     [&](TVXDevice *d) { return update(d, imageFile); });
}

using ConvergedUpdate = int (*)(TVXDevice *, const char *, uint16_t);

// The converged drivers on the adapter and then on the second chip. The
// first generation goes on to the second chip after a failure too and
// returns the last status.
int RunQueuedConvergedUpdate(TVXDevice *device, TVXDevice *secondChip, const char *imageFile, ConvergedUpdate update,
                             uint16_t disableReset, bool secondAfterFailure, int &updated) {
    return RunOnAdapterAndSecondChip(device, secondChip, imageFile, "all", secondAfterFailure, updated,
                                     [&](TVXDevice *d) { return update(d, imageFile, disableReset); });
}

void NotSupportedMessage(const TVXDevice *device, const std::string &model) {
    OutputLevelMessage(LEVEL_INFO, "Flash update is not supported on HBA instance %lu - %s!",
                       static_cast<unsigned long>(device->instance), model.c_str());
}

void NoUpgradeMessage(const TVXDevice *device, const std::string &model) {
    OutputLevelMessage(LEVEL_INFO, "HBA instance %lu - %s does not need to be upgraded.",
                       static_cast<unsigned long>(device->instance), model.c_str());
}

// The chain checks of the whole-option-ROM files: the common BIOS image at
// offset is validated, patched for the board, re-summed and validated again.
int PatchCommonBios(std::span<uint8_t> buf, size_t offset, uint16_t ssdid, uint16_t ssvid, const char *model,
                    const char *hwType, const char *devText, int &result) {
    int r = Validate(buf, devText, offset);
    if (r != 0) return r;
    r = UpdateImage(ssdid, ssvid, buf, model, hwType, offset);
    if (r != 0) return r;
    if (ComputeChecksum(1, buf, offset) == 0) return IMG_CHECKSUM_MISMATCH;
    result = Validate(buf, devText, offset);
    return 0;
}

// Structure of the option-ROM chain of a whole file: every image carries
// both signatures and a non-zero length and lies inside the file, and the
// chain ends with an image that has the last-image flag. 0; 4 when the
// file ends before the chain does (a truncated file); 25 for a broken link.
int CheckOptionRomChain(std::span<const uint8_t> file) {
    size_t offset = 0;
    // Every image moves the walk on by at least one block inside the file.
    for (int number = 0;; ++number) {
        PciRomHeader hdr;
        PciDataStructure pcir;
        if (!ReadPciRomHeader(file, offset, hdr) ||
            (hdr.signature == ROM_SIGNATURE && !ReadPciDataStructure(file, offset, pcir))) {
            OutputLevelMessage(LEVEL_DEBUG,
                               "ValidateUpdateOptionROM: Image %d at 0x%zx is cut off by the end of the file (0x%zx)!",
                               number, offset, file.size());
            return 4;
        }
        if (hdr.signature != ROM_SIGNATURE) {
            OutputLevelMessage(LEVEL_ERROR, "Failed to recognize header signature!");
            return 25;
        }
        if (pcir.signature != PCIR_SIGNATURE_VALUE) {
            OutputLevelMessage(LEVEL_ERROR, "Failed to recognize data signature!");
            return 25;
        }
        const size_t len = static_cast<size_t>(pcir.imageLength) * PCI_BLOCK;
        if (len == 0) {
            OutputLevelMessage(LEVEL_DEBUG, "ValidateUpdateOptionROM: Image %d at 0x%zx has no length!", number,
                               offset);
            return 25;
        }
        if (!InBounds(file.size(), offset, len)) {
            OutputLevelMessage(
                LEVEL_DEBUG,
                "ValidateUpdateOptionROM: Image %d at 0x%zx (0x%zx bytes) runs past the end of the file (0x%zx)!",
                number, offset, len, file.size());
            return 4;
        }
        if (pcir.indicator & PCIR_LAST_IMAGE) return 0;
        offset += len;
    }
}

} // namespace

int doCXRCheckForOptionROM(TVXDevice *device) {
    if (device == nullptr) return OPTROM_KIND_UNSUPPORTED;
    uint16_t chipType = 0;
    if (isAdapterSupported(device, &chipType) == 0) return OPTROM_KIND_UNSUPPORTED;
    const int cxr = GetCxrType(device);
    switch (cxr) {
    case 0:  // CXR2100
    case 14: // CXR8000
        return OPTROM_KIND_UNSUPPORTED;
    case 1: return OPTROM_KIND_STD_2200;
    case 2:
    case 3:
    case 4: {
        if (IsIA64Host()) return OPTROM_KIND_NOT_ON_HOST;
        // Two boards must not be flashed here; without their IDs the board
        // can't be told apart from them, so it is left alone too.
        uint16_t ssvid = 0;
        uint16_t ssdid = 0;
        if (const uint32_t st = ReadAdapterSubsysIds(device, &ssdid, &ssvid); st != TVX_STATUS_OK) {
            OutputLevelMessage(LEVEL_DEBUG, "doCXRCheckForOptionROM: Unable to read the subsystem IDs (0x%x)!", st);
            return OPTROM_KIND_NOT_ON_HOST;
        }
        if ((ssvid == 0x1077 && ssdid == 0x0131) || (ssvid == 0x103C && ssdid == 0x12BA))
            return OPTROM_KIND_NOT_ON_HOST;
        return OPTROM_KIND_STD_23XX;
    }
    case 5: return OPTROM_KIND_2322;
    case 6:
    case 7: return IsIA64Host() ? OPTROM_KIND_NOT_ON_HOST : OPTROM_KIND_STD_63XX;
    case 8:
    case 9:
    case 10:
    case 11:
    case 13: return OPTROM_KIND_REGION;
    case 12: return IsInboxDriver(device) ? OPTROM_KIND_NOT_ON_HOST : OPTROM_KIND_REGION;
    case 15: return OPTROM_KIND_CNA;
    case 17: return OPTROM_KIND_LARK;
    case 16:
    case 18:
    case 19:
    case 20:
    case 22:
    case 23: return OPTROM_KIND_UNKNOWN;
    case 21:
    case 24: return OPTROM_KIND_TESK;
    case 25: return OPTROM_KIND_FENWAR;
    case 26: return OPTROM_KIND_NOT_SUPPORTED;
#ifdef TF_EARLIER_RELEASE
    // The earlier release carries no 28xx update: refused as not supported.
    case 27: return OPTROM_KIND_NOT_SUPPORTED;
#else
    case 27: return OPTROM_KIND_ZULT;
#endif
    default: return OPTROM_KIND_UNSUPPORTED;
    }
}

int updateOptionROMSingleHBA(TVXDevice *device, const char *imageFile, int bAllPorts) {
    if (device == nullptr) return STATUS_NO_ADAPTER;
    if (device->nodeProperty.InterfaceKind == TVX_INTERFACE_VIRTUAL) {
        OutputLevelMessage(LEVEL_DEBUG,
                           "updateOptionROMSingleHBA: Option is not available with virtual port HBA (" WWN_FMT ")!",
                           WWN_ARGS(device->portProperty.PortWWN));
        return STATUS_VIRTUAL_PORT;
    }
    if (bAllPorts) device = FindTVXDeviceToUpdateFlash(device);
    // The adapter and its second chip share one read of the file.
    ImageFileRun imageFiles;

    const int cxr = GetCxrType(device);
    uint16_t disableReset = 1;
    OutputLevelMessage(LEVEL_DEBUG, "updateOptionROMSingleHBA: Cxr idx = %d disableReset=%d", cxr, disableReset);
    if (cxr >= 12) {
        if (IsInboxDriver(device)) return STATUS_INBOX_DRIVER;
        const char *drv = device->nodeProperty.DriverVersion;
        if (cxr != 24) {
            disableReset = isImprovedInboxPhase2DriverVersion(drv, cxr >= 16 ? 1 : 0) == 1 ? 1 : 0;
        } else {
            disableReset =
                (isImprovedInboxPhase2DriverVersion(drv, 0) == 1 && IsConfigureToBootFromSAN(device) == 1) ? 1 : 0;
        }
    }
    const std::string model = ModelText(device);
    TVXDevice *secondChip = FindSecondChip(device);

    const int rawType = CheckAdapterFlashUpdateStatus(device);
    OutputLevelMessage(LEVEL_DEBUG, "updateOptionROMSingleHBA: UpdateType=%d UpdateAllPorts=%d", rawType, bAllPorts);
    int type = rawType;
    if (type == 2 && bAllPorts)
        type = 1;
    else if (type == 4 && bAllPorts)
        type = 3;
    else if (type == 3 && cxr == 25 && !bAllPorts)
        type = 10;
    if (type == 5 || type == 6 || type == 7) {
        NotSupportedMessage(device, model);
        return STATUS_NOT_SUPPORTED;
    }

    const int kind = doCXRCheckForOptionROM(device);
    int st = 0;
    int updated = 0;
    switch (kind) {
    case OPTROM_KIND_REGION:
    case OPTROM_KIND_2322: {
        const int t = kind == OPTROM_KIND_2322 ? rawType : type;
        if (t == 1 || t == 3) {
            st = RunQueuedUpdate(device, secondChip, imageFile, "all", OptionROMRegionUpdate, updated);
        } else if (kind == OPTROM_KIND_2322) {
            if (t == 5) {
                OutputLevelMessage(LEVEL_INFO, "Flash update is unsupported with current OS!");
                st = STATUS_NOT_ON_HOST;
            } else {
                NotSupportedMessage(device, model);
                st = STATUS_NOT_SUPPORTED;
            }
        } else {
            NoUpgradeMessage(device, model);
            st = STATUS_NO_UPDATE_NEEDED;
        }
        break;
    }
    case OPTROM_KIND_STD_23XX:
    case OPTROM_KIND_STD_63XX:
    case OPTROM_KIND_STD_2200:
        if (type == 1 || type == 3) {
            st = RunQueuedUpdate(device, secondChip, imageFile, nullptr, DoStdBiosUpdate, updated);
        } else if (type == 5) {
            OutputLevelMessage(LEVEL_INFO, "Flash update is unsupported with current OS!");
            st = STATUS_NOT_ON_HOST;
        } else {
            NotSupportedMessage(device, model);
            st = STATUS_NOT_SUPPORTED;
        }
        break;
    case OPTROM_KIND_CNA:
    case OPTROM_KIND_LARK:
    case OPTROM_KIND_TESK:
        if (type == 1 || type == 3) {
            const ConvergedUpdate update = kind == OPTROM_KIND_CNA    ? CNAOptionROMRegionUpdate
                                           : kind == OPTROM_KIND_LARK ? CNALarkORevA0ptionROMRegionUpdate
                                                                      : CNATeskOptionROMRegionUpdate;
            st = RunQueuedConvergedUpdate(device, secondChip, imageFile, update, disableReset, kind == OPTROM_KIND_CNA,
                                          updated);
        } else if (type >= 4 && type <= 7) {
            if (kind == OPTROM_KIND_TESK) {
                NoUpgradeMessage(device, model);
                st = STATUS_NOT_SUPPORTED;
            } else {
                OutputLevelMessage(LEVEL_INFO, "Flash update is unsupported with current OS!");
                st = kind == OPTROM_KIND_CNA ? STATUS_NOT_SUPPORTED : STATUS_NOT_ON_HOST;
            }
        } else {
            NoUpgradeMessage(device, model);
            st = STATUS_NO_UPDATE_NEEDED;
        }
        break;
    case OPTROM_KIND_FENWAR:
    case OPTROM_KIND_ZULT:
        if (type == 1 || type == 3) {
            if (isWindowsServerFECImplDriverVersion(device->nodeProperty.DriverVersion) != 0) {
                OutputLevelMessage(LEVEL_INFO, "Flash update is unsupported with current driver %s!",
                                   device->nodeProperty.DriverVersion);
                st = STATUS_NOT_ON_HOST;
                break;
            }
            const bool fenwar = kind == OPTROM_KIND_FENWAR;
#ifdef TF_EARLIER_RELEASE // no 28xx update in the earlier release: kind 14 never comes here
            st = RunQueuedConvergedUpdate(device, secondChip, imageFile, FenwarUpdateByPath, disableReset, false,
                                          updated);
#else
            st = RunQueuedConvergedUpdate(device, secondChip, imageFile,
                                          fenwar ? FenwarUpdateByPath : ZultOnlineFlashUpdate, disableReset, false,
                                          updated);
#endif
            if (!fenwar && st != 0 && st != OPTROM_OK_RESET_DISABLED)
                OutputLevelMessage(LEVEL_INFO, "Flash update failed (Error=%d)", st);
        } else if (type == 5 || type == 6 || type == 7 || type == 19) {
            NoUpgradeMessage(device, model);
            st = STATUS_NOT_SUPPORTED;
        } else {
            NoUpgradeMessage(device, model);
            st = STATUS_NO_UPDATE_NEEDED;
        }
        break;
    case OPTROM_KIND_NOT_ON_HOST: st = STATUS_NOT_ON_HOST; break;
    case OPTROM_KIND_UNKNOWN: st = STATUS_UNKNOWN_TYPE; break;
    case OPTROM_KIND_UNSUPPORTED: st = STATUS_NOT_SUPPORTED; break;
    default:
        // Kind 12, and the newer families whose update drivers this
        // program does not carry yet.
        NotSupportedMessage(device, model);
        st = STATUS_NOT_SUPPORTED_KIND;
        break;
    }
    OutputLevelMessage(LEVEL_DEBUG, "updateOptionROMSingleHBA: retVal=%d NoHBAUpdated=%d ", st, updated);
    return st;
}

int updateOptionROMAllHBAs(TVXDevice * /*singleDevice*/, int bAllPorts, int /*iOption*/) {
    // Ports the library has but discovery could not open (a card of which
    // no port opened would otherwise vanish from the run).
    const std::vector<UnopenedDevice> unopened = UnaccountedUnopenedDevices();
    if ((g_HBAList.count == 0 || g_HBAList.first == nullptr) && unopened.empty()) {
        OutputLevelMessage(LEVEL_INFO, "Orvane HBA not found!");
        return STATUS_NO_ADAPTER;
    }
    // Each image file is read once for the whole walk.
    ImageFileRun imageFiles;
    unsigned needed = 0;
    unsigned updated = 0;
    g_triedChips.clear();
    // Classic ports that carry no update of their own, with their image.
    std::vector<std::pair<TVXDevice *, std::string>> carried;
    for (TVXDevice *d = g_HBAList.first; d != nullptr; d = d->next) {
        std::unique_ptr<FlashCtrEntry> fileEntry(new (std::nothrow) FlashCtrEntry{});
        std::unique_ptr<FlashCtrEntry> hbaEntry(new (std::nothrow) FlashCtrEntry{});
        if (!fileEntry || !hbaEntry) {
            OutputMessage("Memory allocation error!");
            return -1;
        }
        const int inst = static_cast<int>(d->instance);
        const char *model = d->nodeProperty.Model;
        GetVersionFromFlashCtrFile(d, fileEntry.get());
        const FlashCtrEntry &f = *fileEntry;
        bool matched = f.ssdid[0] != '\0' && f.ssvid[0] != '\0';
        if (!matched) {
            OutputLevelMessage(LEVEL_WARNING, "Unable to find a matched entry for current adapter (HBA %d - %s)!", inst,
                               model);
        } else {
            OutputLevelMessage(LEVEL_DEBUG,
                               "File entry: HBA %d (%s) ssdid=%s ssvid=%s %d.%02d %d.%02d %d.%02d %d.%02d.%02d %s "
                               "%d.%02d.%02d",
                               inst, model, f.ssdid, f.ssvid, f.biosVer[0], f.biosVer[1], f.efiVer[0], f.efiVer[1],
                               f.fcodeVer[0], f.fcodeVer[1], f.fwVer[0], f.fwVer[1], f.fwVer[2], f.imageFile,
                               f.mbiVer[0], f.mbiVer[1], f.mbiVer[2]);
        }
        BuildFlashCtrListFromHBA(d, hbaEntry.get());
        const FlashCtrEntry &h = *hbaEntry;
        OutputLevelMessage(LEVEL_DEBUG,
                           "HBA entry : HBA %d (%s) ssdid=%s ssvid=%s %d.%02d %d.%02d %d.%02d %d.%02d.%02d %s "
                           "%02d.%02d.%02d",
                           inst, model, h.ssdid, h.ssvid, h.biosVer[0], h.biosVer[1], h.efiVer[0], h.efiVer[1],
                           h.fcodeVer[0], h.fcodeVer[1], h.fwVer[0], h.fwVer[1], h.fwVer[2], h.imageFile, h.mbiVer[0],
                           h.mbiVer[1], h.mbiVer[2]);
        if (!matched) continue;
        if (GetCxrType(d) >= 12 && IsInboxDriver(d)) {
            OutputLevelMessage(LEVEL_DEBUG, "Detected Windows Server 2008 inbox driver!");
            ++needed;
            continue;
        }
        const int policy = GetFlashUpdatePolicy(d, hbaEntry.get(), fileEntry.get());
        OutputLevelMessage(LEVEL_DEBUG, "updateOptionROMAllHBAs: iFlashUpdateType=%d", policy);
        if (policy >= 1) {
            ++needed;
            OutputLevelMessage(LEVEL_DEBUG, "updateOptionROMAllHBAs: Updating HBA %d Port %d WWPN=" WWN_FMT, inst,
                               static_cast<int>(d->physicalPort), WWN_ARGS(d->portProperty.PortWWN));
            const int st = updateOptionROMSingleHBA(d, f.imageFile, bAllPorts);
            OutputLevelMessage(LEVEL_DEBUG, "updateOptionROMAllHBAs:  updateStatus=%d", st);
            // A port that carries no update of its own (its chip is written
            // through another port) is neither a needed nor a done update:
            // counting it as done would report a failed card as updated.
            // On the classic cards it is settled after the walk, once it is
            // known whether any port took up its chip.
            const int cxr = GetCxrType(d);
            if (st == STATUS_NO_UPDATE_NEEDED && cxr >= 8 && cxr <= 13)
                carried.emplace_back(d, f.imageFile);
            else if (st == STATUS_NO_UPDATE_NEEDED)
                --needed;
            else if (st == 0 || st == OPTROM_OK_RESET_DISABLED)
                ++updated;
        } else {
            OutputLevelMessage(LEVEL_INFO, "HBA %d - %s does not need to be upgraded.", inst, model);
        }
    }
    // A chip that no port of this run took up: when this is its first port
    // (the carrying port found its own chip current, as after an update cut
    // off between the two chips of a card) the chip is updated through it;
    // when its first port is there, that port's versions decided; when it
    // is missing, the update was needed and not done.
    for (auto &[d, imageFile] : carried) {
        if (ChipTried(d) || (!IsFirstPortOfChip(d) && HasFirstPortOfChip(d))) {
            --needed;
            continue;
        }
        if (!IsFirstPortOfChip(d)) {
            OutputLevelMessage(LEVEL_DEBUG, "updateOptionROMAllHBAs: No port of HBA %d updates its chip.",
                               static_cast<int>(d->instance));
            continue;
        }
        OutputLevelMessage(LEVEL_DEBUG, "updateOptionROMAllHBAs: Updating the chip of HBA %d through its port %d.",
                           static_cast<int>(d->instance), static_cast<int>(d->physicalPort));
        int done = 0;
        const int st = RunQueuedUpdate(d, nullptr, imageFile.c_str(), "all", OptionROMRegionUpdate, done);
        if (st == 0 || st == OPTROM_OK_RESET_DISABLED) ++updated;
    }
    // An adapter that could not be opened did not get its update.
    for (const UnopenedDevice &u : unopened) {
        ++needed;
        OutputMessage("Flash update failed on this HBA (Instance %d) with error (0x%x) (%s)!",
                      static_cast<int>(u.instance), u.status, u.text.c_str());
    }
    int ret;
    if (needed == 0) {
        OutputLevelMessage(LEVEL_INFO, "No updates required.");
        ret = 1;
    } else if (updated == 0) {
        OutputMessage("All HBAs that need to be updated failed to be updated (%d out of %d)!", 0,
                      static_cast<int>(needed));
        ret = 2;
    } else if (updated == needed) {
        OutputLevelMessage(LEVEL_INFO, "Updates completed successfully (%d out of %d).", static_cast<int>(updated),
                           static_cast<int>(needed));
        ret = 0;
    } else {
        OutputLevelMessage(LEVEL_WARNING, "Unable to update all HBAs (%d out of %d)!", static_cast<int>(updated),
                           static_cast<int>(needed));
        ret = 3;
    }
    OutputLevelMessage(LEVEL_DEBUG, "updateOptionROMAllHBAs: retStatus=%d", ret);
    return ret;
}

int ValidateOptionROMFile(const char *fileName, std::span<uint8_t> buffer, uint32_t *size) {
    const uint32_t maxSize = size != nullptr ? *size : 0;
    // The buffer bounds the read as much as the given maximum; a longer
    // file is measured, not read.
    const size_t limit = std::min<size_t>(maxSize, buffer.size());
    ImageFileStore ownFiles;
    std::span<const uint8_t> data;
    size_t length = 0;
    const ImageFileStatus st =
        fileName != nullptr ? RunImageFiles(ownFiles).Get(fileName, data, limit, &length) : ImageFileStatus::CannotOpen;
    if (st == ImageFileStatus::CannotOpen) {
        if (size != nullptr) *size = 0;
        return 1;
    }
    if (st != ImageFileStatus::Ok && st != ImageFileStatus::TooLarge) return 3;
    OutputLevelMessage(LEVEL_DEBUG, "ValidateOptionROMFile: OptionROM file size=%d - Max size=%d",
                       static_cast<int>(length), static_cast<int>(maxSize));
    if (st == ImageFileStatus::TooLarge) return 4;
    std::copy(data.begin(), data.end(), buffer.begin());
    if (size != nullptr) *size = static_cast<uint32_t>(data.size());
    return 0;
}

int ValidateUpdateOptionROM(std::FILE *file, uint16_t ssdid, uint16_t ssvid, std::span<uint8_t> buffer, uint32_t size,
                            const char *model) {
    if (file == nullptr) return 25;
    if (size < buffer.size()) buffer = buffer.first(size);

    // Chip of the board from the supported-adapter table (plain form).
    char hwType[19] = {};
    {
        std::string path = std::string(g_szConfigPath) + OSS_PATH_SEPARATOR + ADAPTERS_FILE_NAME;
        SubSystemEntry *list = BuildSubSystemListFromFile(path.c_str());
        if (list == nullptr) return 9;
        SubSystemEntry *row = FindSubSystemInSubSystemList(list, ssdid, ssvid);
        if (row == nullptr) {
            FreeSubSystemList(list);
            return 10;
        }
        std::snprintf(hwType, sizeof(hwType), "%s", row->cxrText);
        FreeSubSystemList(list);
    }
    const char *devText = std::strlen(hwType) > 3 ? hwType + 3 : "";

    if (g_ptrOptionROMRequest != nullptr && g_ptrOptionROMRequest->Region == TVX_OPT_ROM_REGION_FW) {
        int r = validateFirmware(buffer, hwType, 1);
        if (r == OPTROM_VALID || r == OPTROM_FW_CHECKSUM || r == OPTROM_NOT_A_FIRMWARE) return r;
    }

    if (std::fseek(file, 0, SEEK_SET) != 0) {
        OutputMessage("Failed to wind file to header!");
        return 25;
    }
    std::array<uint8_t, PCI_FILE_RECORD> hdr{};
    std::array<uint8_t, PCI_FILE_RECORD> data{};
    if (ReadPciHeaderAndData(file, hdr, data, 0) != 1) return 25;
    PrintDataStructure(hdr, data, 0);
    // A truncated file or a broken chain is refused before any image is
    // looked at: the whole file is written to the adapter.
    if (int chain = CheckOptionRomChain(buffer); chain != 0) return chain;

    int result = 1;
    if (data[PCIR_CODE_TYPE] == PCI_CODE_BIOS) {
        if (!isCommonBIOSImage(buffer, 0)) return Validate(buffer, devText, 0);
        int r = PatchCommonBios(buffer, 0, ssdid, ssvid, model, hwType, devText, result);
        if (r != 0) return r;
        OutputLevelMessage(LEVEL_DEBUG, "ValidateUpdateOptionROM: Common BIOS file successfully validated.");
    }

    long offset = 0;
    for (int number = 1; (data[PCIR_INDICATOR] & PCIR_LAST_IMAGE) == 0; ++number) {
        const uint16_t blocks = static_cast<uint16_t>(data[PCIR_IMAGE_LENGTH] | (data[PCIR_IMAGE_LENGTH + 1] << 8));
        // A zero length would never move on; it ends the walk.
        if (blocks == 0) break;
        offset += static_cast<long>(blocks) * static_cast<long>(PCI_BLOCK);
        if (static_cast<size_t>(offset) >= buffer.size()) {
            OutputLevelMessage(LEVEL_ERROR, "Failed to read header from file!");
            break;
        }
        if (std::fseek(file, offset, SEEK_SET) != 0) {
            OutputMessage("Failed to wind file to header!");
            break;
        }
        if (ReadPciHeaderAndData(file, hdr, data, offset) != 1) break;
        PrintDataStructure(hdr, data, number);
        const size_t off = static_cast<size_t>(offset);
        const uint8_t code = data[PCIR_CODE_TYPE];
        if (code == PCI_CODE_BIOS) {
            if (isCommonBIOSImage(buffer, off)) {
                int r = PatchCommonBios(buffer, off, ssdid, ssvid, model, hwType, devText, result);
                if (r != 0) return r;
            } else {
                OutputLevelMessage(LEVEL_DEBUG, "ValidateUpdateOptionROM: Not a Common BIOS Image!");
            }
        } else if (code == PCI_CODE_FCODE) {
            if (isCommonFCodeDevice(devText)) {
                int r = validateFCode(buffer, devText, 0, off);
                if (r == 0) r = updateImageFCode(ssdid, ssvid, buffer, hwType, off);
                if (r == 0) r = validateFCode(buffer, devText, 0, off);
                if (r != 0) return r;
                result = r;
            } else {
                OutputLevelMessage(LEVEL_DEBUG, "ValidateUpdateOptionROM: Not a Common FCode Image!");
            }
        } else if (code == PCI_CODE_EFI) {
            if (isCommonEfiDevice(devText)) {
                int r = validateEFI(buffer, devText, off);
                if (r == 0) r = UpdateImageEFI(ssdid, ssvid, buffer, hwType, off);
                if (r == 0) r = validateEFI(buffer, devText, off);
                if (r != 0) return r;
                result = r;
            } else {
                OutputLevelMessage(LEVEL_DEBUG, "ValidateUpdateOptionROM: Not a Common EFI Image!");
            }
        }
    }
    return result;
}

int DoStdBiosUpdate(TVXDevice *device, const char *imageFile) {
    if (device == nullptr) {
        OutputMessage("Unable to find the selected HBA!");
        return -1;
    }
    const int inst = static_cast<int>(device->instance);
    const char *name = imageFile != nullptr ? imageFile : "";
    // The IDs select the table entry the file is checked against and are
    // stamped into a common BIOS: without them nothing is written.
    uint16_t ssdid = 0;
    uint16_t ssvid = 0;
    if (const uint32_t idStatus = ReadAdapterSubsysIds(device, &ssdid, &ssvid); idStatus != TVX_STATUS_OK) {
        OutputMessage("Failed to update flash on HBA %d (0x%x) (%s)!", inst, idStatus, ErrorText(idStatus).c_str());
        OutputLevelMessage(LEVEL_DEBUG, "DoStdBiosUpdate: exit with status %d.", -1);
        return -1;
    }
    // So is the model name, into a common BIOS.
    if (const uint32_t nodeStatus = NodePropertyReadStatus(device); nodeStatus != TVX_STATUS_OK) {
        OutputMessage("Failed to update flash on HBA %d (0x%x) (%s)!", inst, nodeStatus, ErrorText(nodeStatus).c_str());
        OutputLevelMessage(LEVEL_DEBUG, "DoStdBiosUpdate: exit with status %d.", -1);
        return -1;
    }

    // Only the file's bytes are checked and written: the rest of the buffer
    // is never looked at.
    ScratchBytes scratch(STD_BIOS_MAX);
    if (!scratch.ok()) {
        OutputMessage("Memory allocation error!");
        return -1;
    }
    const std::span<uint8_t> buffer = scratch.span();
    uint32_t size = STD_BIOS_MAX;
    int st = ValidateOptionROMFile(name, buffer, &size);
    if (st == 1) {
        OutputMessage("Unable to open file %s!", name);
        return -1;
    }
    if (st == 3) {
        OutputMessage("Failed to open file %s for reading!", name);
        return -1;
    }
    if (st == 4) {
        OutputMessage("%s is not an acceptable multi-bootimage file for this HBA (Instance %d), wrong size!", name,
                      inst);
        return -1;
    }
    OutputLevelMessage(LEVEL_DEBUG, "DoStdBiosUpdate: Return file size %d", static_cast<int>(size));

    std::FILE *f = std::fopen(name, "rb");
    if (f == nullptr) {
        OutputMessage("Unable to open file %s!", name);
        return 1;
    }
    st = ValidateUpdateOptionROM(f, ssdid, ssvid, buffer, size, device->nodeProperty.Model);
    std::fclose(f);

    int ret;
    if (st == 0 || st == 15) {
        OutputLevelMessage(LEVEL_INFO, "Updating Flash on HBA instance %d - %8s. Please wait...", inst,
                           device->nodeProperty.Model);
        OSSBeginCriticalWrite();
        const uint32_t lib = TvxUpdateOptionRom(device->handle, 0, buffer.data(), size);
        OSSEndCriticalWrite();
        if (lib == TVX_STATUS_OK || lib == TVX_RESULT_RESET_DISABLED) {
            OutputLevelMessage(LEVEL_INFO, "Flash update complete. Changes have been saved to all ports of this "
                                           "HBA.\nYou must reboot in order for the changes to become effective.");
            ret = lib == TVX_STATUS_OK ? 0 : OPTROM_OK_RESET_DISABLED;
        } else {
            OutputMessage("Failed to update flash on HBA %d (0x%x) (%s)!", inst, lib, ErrorText(lib).c_str());
            ret = -1;
        }
    } else {
        switch (st) {
        case 2:
            OutputMessage("Incorrect flash file for HBA %d. The selected file does not match the HBA!", inst);
            break;
        case 4:
            OutputMessage("%s is not an acceptable multi-bootimage file for this HBA (Instance %d), wrong size!", name,
                          inst);
            break;
        case 9: OutputMessage("Incorrect flash file for HBA %d (Unknown HBA hardware type)!", inst); break;
        case 10: OutputMessage("Incorrect flash file for HBA %d (Invalid SSDID/SSVID)!", inst); break;
        case 11: OutputMessage("Incorrect flash file for HBA %d (SSDID/SSVID mismatched)!", inst); break;
        case 12: OutputMessage("Incorrect flash file, invalid checksum!"); break;
        default: OutputMessage("Unable to access file %s (Read error) !", name); break;
        }
        ret = st;
    }
    OutputLevelMessage(LEVEL_DEBUG, "DoStdBiosUpdate: exit with status %d.", ret);
    return ret;
}
