#include "multiregion/regionloop.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "app/output.h"
#include "image/helpers.h"
#include "image/pcirom.h"
#include "inventory/cxrtype.h"
#include "oss/oss.h"
#include "update/flashregion.h"
#include "update/optionrom.h"

namespace {

constexpr int kLarkFcNotSelected = 19;
constexpr int kEthernetNotSelected = 8;

uint32_t LayoutSize(const std::vector<TVX_REGION_ENTRY> &layout, uint32_t code) {
    uint32_t size = 0;
    for (const TVX_REGION_ENTRY &e : layout)
        if (e.Region == code) size = e.Size;
    return size;
}

size_t TableLength(std::span<const uint8_t> flash) {
    IltHeader h{};
    ILT_Header_Read(flash, h);
    return std::min<size_t>(h.tableLength, flash.size());
}

bool RequestSelects(uint32_t region, std::initializer_list<uint32_t> codes) {
    if (g_ptrOptionROMRequest == nullptr) return false;
    const uint32_t req = g_ptrOptionROMRequest->Region;
    if (req == TVX_OPT_ROM_REGION_ALL) return std::find(codes.begin(), codes.end(), region) != codes.end();
    return req == region;
}

uint32_t Write(TVXDevice *device, WriteWrapper wrapper, std::span<const uint8_t> buffer, uint32_t region,
               uint16_t &disableReset) {
    const uint32_t size = static_cast<uint32_t>(buffer.size());
    switch (wrapper) {
    case WriteWrapper::Ethernet: return EthernetUpdateOptionRom(device, buffer.data(), region, size, disableReset);
    case WriteWrapper::FC: return FCUpdateOptionRom(device, buffer.data(), region, size, disableReset);
    case WriteWrapper::EthernetLark:
        return EthernetUpdateLarkOptionRom(device, buffer.data(), region, size, disableReset);
    case WriteWrapper::FCLark: return FCUpdateLarkOptionRom(device, buffer.data(), region, size, disableReset);
    case WriteWrapper::Direct: return AppUpdateOptionRomEx3(device, buffer.data(), region, size, &disableReset);
    }
    return kEthernetNotSelected;
}

// First occurrence of "MECXR " in the buffer, or npos.
size_t FindDefaultsMarker(std::span<const uint8_t> buf) {
    static constexpr uint8_t kMarker[] = {'M', 'E', 'C', 'X', 'R', ' '};
    auto it = std::search(buf.begin(), buf.end(), std::begin(kMarker), std::end(kMarker));
    return it == buf.end() ? std::string::npos : static_cast<size_t>(it - buf.begin());
}

bool HasSvid(std::span<const uint8_t> buf) { return buf.size() >= 34 && std::memcmp(buf.data() + 28, "SVID", 4) == 0; }

} // namespace

std::vector<PlannedWrite> PlanRegionWrites(const FamilyTable &family, std::span<const uint32_t> sequence,
                                           std::span<const uint8_t> flash, const std::vector<TVX_REGION_ENTRY> &layout,
                                           int cardType, uint16_t chipRev, uint32_t requestRegion) {
    std::vector<PlannedWrite> plan;
    if (requestRegion != TVX_OPT_ROM_REGION_ALL) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: Region request 0x%x does not cover every region", family.driverName,
                           requestRegion);
        return plan;
    }
    const size_t tableLength = TableLength(flash);
    const int n = ILT_Header_GetNumOfRegionEntries(flash);
    for (uint32_t code : sequence) {
        const RegionStep *step = FindRegionStep(family, code);
        if (step == nullptr || step->vpd) continue;
        const uint32_t regionSize = LayoutSize(layout, code);
        for (int i = 0; i + 1 < n; ++i) {
            auto entry = ILT_Region_GetRegionByIndex(flash, i);
            if (!entry) break;
            if (entry->regionCode != code || !CardTypeComapre(entry->swapModeCardType, cardType)) continue;
            if (step->crbGate && entry->chipRev != 0 && entry->chipRev != chipRev) {
                OutputLevelMessage(LEVEL_DEBUG, "Skipping Region No=0x%x Offset=0x%x", code, entry->offset);
                continue;
            }
            if (step->chipRevGate && ValidateImageChipRevision(&*entry, chipRev) != 0) {
                OutputLevelMessage(LEVEL_DEBUG, "Chip version not matched (Region No=0x%x Offset=0x%x)", code,
                                   entry->offset);
                continue;
            }
            const size_t copy = static_cast<size_t>(entry->length) + (step->appendIlt ? tableLength : 0);
            plan.push_back({step, *entry, regionSize, copy});
        }
    }
    return plan;
}

int CheckPlannedWritesFit(const char *driverName, std::span<const PlannedWrite> plan, size_t flashSize) {
    for (const PlannedWrite &w : plan) {
        if (w.regionSize == 0) {
            OutputLevelMessage(LEVEL_DEBUG, "%s: Region 0x%x is not in the adapter's flash layout", driverName,
                               w.step->code);
            return CNA_REGION_TOO_LONG;
        }
        if (!InBounds(flashSize, w.entry.offset, w.entry.length) || w.copyLength > w.regionSize) {
            OutputLevelMessage(LEVEL_DEBUG, "%s: Region 0x%x needs 0x%zx bytes, the flash region holds 0x%x",
                               driverName, w.step->code, w.copyLength, w.regionSize);
            return CNA_REGION_TOO_LONG;
        }
    }
    return 0;
}

int BuildRegionBuffer(const TVXDevice *device, const PlannedWrite &w, std::span<const uint8_t> flash,
                      std::span<const BootBackup> backups, std::vector<uint8_t> &region) {
    const RegionStep &step = *w.step;
    const size_t tableLength = TableLength(flash);
    if (w.copyLength > w.regionSize || !InBounds(flash.size(), w.entry.offset, w.entry.length))
        return CNA_REGION_TOO_LONG;
    try {
        region.assign(w.regionSize, 0xFF);
    } catch (const std::bad_alloc &) {
        return CNA_NO_MEMORY;
    }
    std::memcpy(region.data(), flash.data() + w.entry.offset, w.entry.length);
    if (step.appendIlt) std::memcpy(region.data() + w.entry.length, flash.data(), tableLength);
    if (!step.biosDefaults) return 0;
    for (const BootBackup &b : backups)
        if (b.region == step.code && !b.data.empty() && PreserveBiosDefaultArea(device, b.data, region) != 0)
            return CNA_BIOS_DEFAULTS;
    return 0;
}

int CheckBiosDefaultAreas(const TVXDevice *device, std::span<const PlannedWrite> plan, std::span<const uint8_t> flash,
                          std::span<const BootBackup> backups) {
    for (const PlannedWrite &w : plan) {
        if (!w.step->biosDefaults) continue;
        std::vector<uint8_t> region;
        if (const int st = BuildRegionBuffer(device, w, flash, backups, region); st != 0) return st;
    }
    return 0;
}

LoopOutcome RunRegionLoop(TVXDevice *device, const FamilyTable &family, std::span<const PlannedWrite> plan,
                          std::span<const uint8_t> flash, std::span<const BootBackup> backups, uint16_t &disableReset,
                          const RegionLoopHooks *hooks) {
    LoopOutcome out;
    const int inst = static_cast<int>(device->instance);
    for (const PlannedWrite &w : plan) {
        const RegionStep &step = *w.step;
        // The fit was checked before the first write; this keeps every copy
        // inside both buffers all the same.
        if (w.copyLength > w.regionSize || !InBounds(flash.size(), w.entry.offset, w.entry.length)) {
            out.status = CNA_REGION_TOO_LONG;
            return out;
        }
        std::vector<uint8_t> region;
        const int st = BuildRegionBuffer(device, w, flash, backups, region);
        if (st != 0) {
            if (st == CNA_BIOS_DEFAULTS)
                OutputMessage("Unable to preserve BIOS default area of HBA (Instance %d)!", inst);
            else
                OutputMessage("Memory allocation error!");
            out.status = st;
            return out;
        }

        if (hooks != nullptr && hooks->beforeWrite && hooks->beforeWrite(w, region) != 0) {
            out.status = step.failStatus;
            return out;
        }

        const std::string text = hooks != nullptr && hooks->progress ? hooks->progress(w) : std::string();
        OutputText(text.empty() ? step.progress : text.c_str());
        const uint32_t lib = Write(device, step.wrapper, region, w.target != 0 ? w.target : step.code, disableReset);
        out.libStatus = lib;
        if (lib != TVX_STATUS_OK && lib != TVX_RESULT_RESET_DISABLED) {
            OutputMessage("%s", "Failed");
            if (hooks != nullptr && hooks->failed)
                hooks->failed(w, lib);
            else
                OutputMessage("Flash update failed on this HBA (Instance %d) with error (0x%x) (%s)!", inst, lib,
                              LibraryErrorText(lib).c_str());
            out.status = step.failStatus;
            return out;
        }
        OutputMessage("%s", "Success");
        if (hooks != nullptr && hooks->afterWrite) hooks->afterWrite(w);
        out.resetDisabled = lib == TVX_RESULT_RESET_DISABLED;
        ++out.written;
        if (family.expectedCount > 0)
            OutputLevelMessage(LEVEL_DEBUG, "%s: Region 0x%x successfully updated (%d of %d).", family.driverName,
                               step.code, out.written, family.expectedCount);
        else
            OutputLevelMessage(LEVEL_DEBUG, "%s: Region 0x%x successfully updated (%d).", family.driverName, step.code,
                               out.written);
        OSSSleep(step.waitMs);
    }
    return out;
}

int PreserveBiosDefaultArea(const TVXDevice *device, std::span<const uint8_t> current, std::span<uint8_t> region) {
    if (device == nullptr || GetCxrType(device) < 12) return -1;
    const size_t currentMarker = FindDefaultsMarker(current);
    constexpr size_t kAreaSize = 512;
    size_t offset = 0;
    // Every image moves the walk on by at least one block, so the walk ends.
    for (bool first = true;; first = false) {
        PciRomHeader hdr;
        PciDataStructure pcir;
        if (!ReadPciRomHeader(region, offset, hdr) || hdr.signature != ROM_SIGNATURE ||
            !ReadPciDataStructure(region, offset, pcir) || pcir.signature != PCIR_SIGNATURE_VALUE) {
            OutputLevelMessage(LEVEL_DEBUG, "PreserveBiosDefaultArea: No PCI image at 0x%zx", offset);
            return -1;
        }
        if (pcir.codeType == PCI_CODE_BIOS) {
            const size_t len = static_cast<size_t>(hdr.sizeBlocks) * PCI_BLOCK;
            if (len == 0 || len > region.size() || !InBounds(region.size(), offset, len)) {
                if (first)
                    OutputLevelMessage(LEVEL_DEBUG, "Skipping initial image with length %d.\n", static_cast<int>(len));
                else
                    OutputLevelMessage(LEVEL_DEBUG, "Skipping next image with length %d.\n", static_cast<int>(len));
                return -1;
            }
            std::span<uint8_t> image = region.subspan(offset, len);
            bool changed = false;
            if (HasSvid(current) && HasSvid(image)) {
                image[32] = current[32];
                image[33] = current[33];
                changed = true;
            }
            const size_t newMarker = FindDefaultsMarker(image);
            if (currentMarker != std::string::npos && newMarker != std::string::npos) {
                if (InBounds(current.size(), currentMarker + 2, kAreaSize) &&
                    InBounds(image.size(), newMarker + 2, kAreaSize)) {
                    std::memcpy(image.data() + newMarker + 2, current.data() + currentMarker + 2, kAreaSize);
                    changed = true;
                } else {
                    OutputLevelMessage(LEVEL_DEBUG, "PreserveBiosDefaultArea: Default area cut by the image end");
                }
            }
            // A carried byte changes the image's sum: its checksum byte is
            // recomputed so the BIOS still loads.
            if (changed) {
                uint8_t sum = 0;
                for (size_t i = 0; i + 1 < image.size(); ++i)
                    sum = static_cast<uint8_t>(sum + image[i]);
                image[image.size() - 1] = static_cast<uint8_t>(0u - sum);
            }
        }
        if (pcir.indicator & PCIR_LAST_IMAGE) break;
        const size_t next = static_cast<size_t>(pcir.imageLength) * PCI_BLOCK;
        if (next == 0 || !InBounds(region.size(), offset, next + 1)) {
            OutputLevelMessage(LEVEL_DEBUG, "PreserveBiosDefaultArea: Chain ends without its last image");
            return -1;
        }
        offset += next;
    }
    return 0;
}

uint32_t EthernetUpdateLarkOptionRom(TVXDevice *device, const uint8_t *buffer, uint32_t region, uint32_t size,
                                     uint16_t options) {
    if (device == nullptr || !RequestSelects(region, {0x2E, 0x7A, 0x7B})) return kEthernetNotSelected;
    OutputLevelMessage(LEVEL_DEBUG, "EthernetUpdateLarkOptionRom: Updating Region=%x Size=0x%x to HBA port %d (%s)...",
                       region, size, static_cast<int>(device->instance), BuildCompactModelText(device).c_str());
    return AppUpdateOptionRomEx2(device, buffer, region, size, options);
}

uint32_t FCUpdateLarkOptionRom(TVXDevice *device, const uint8_t *buffer, uint32_t region, uint32_t size,
                               uint16_t options) {
    const bool rev54 = device != nullptr && device->chipProperty.ChipType == 0x54;
    const bool selected = rev54 ? RequestSelects(region, {0x72, 0x70, 0x74, 0x73, 0x07, 0x4F, 0x81})
                                : RequestSelects(region, {0x72, 0x70, 0x97, 0x73, 0x07, 0x4F, 0x81});
    if (device == nullptr || !selected) return kLarkFcNotSelected;
    OutputLevelMessage(LEVEL_DEBUG, "FCUpdateLarkOptionRom: Updating Region=%x Size=0x%x to HBA instance %d (%s)...",
                       region, size, static_cast<int>(device->instance), BuildCompactModelText(device).c_str());
    return AppUpdateOptionRomEx2(device, buffer, region, size, options);
}
