// The C interface of the simulated library: handles, properties, flash
// regions, online update sessions, faults and the journal.
#include "sim_calls.h"
#include "torvex_sim.h"

#include <cstdio>
#include <cstring>

using namespace tsim;
using json = nlohmann::json;

namespace {

TVX_STATUS RegionWrite(const char *fn, uint32_t handle, uint32_t options, const uint8_t *buffer, uint32_t size,
                       uint32_t region, bool hasOptions) {
    Host *h;
    int port;
    TVX_STATUS st;
    Port *p = Resolve(handle, h, port, st);
    if (!p) return Done(h, fn, -1, st);
    Chip &chip = *p->chip;
    json j = {{"op", "write"}, {"fn", fn}, {"region", HexCode(region)}, {"size", size}};
    if (hasOptions) j["options"] = options;
    AddPortInfo(j, *h, port);
    const Region *r = FindRegion(chip, region);
    const Region *stored = nullptr; // the region, once it holds the data
    if (!buffer)
        st = TVX_ERR_INVALID_PARAMETER;
    else if (!r)
        st = TVX_ERR_INVALID_REGION;
    else if (size == 0 || size > r->size || (size != r->size && !(chip.partialWrites && !r->whole)))
        st = TVX_ERR_INVALID_SIZE;
    else if (uint32_t f = CheckFault(*h, fn, port, region, true, false))
        st = f;
    else if (!WriteRegion(*h, chip, *r, 0, buffer, size))
        st = TVX_ERR_FLASH_WRITE;
    else {
        bool noReset = chip.resetMode == Chip::Always || (chip.resetMode == Chip::OnRequest && (options & 1));
        st = noReset ? TVX_ERR_RESET_DISABLED : TVX_STATUS_OK;
        stored = r;
    }
    return FinishWrite(*h, j, port, buffer, size, st, &chip, stored);
}

struct StatusText {
    uint32_t code;
    const char *text;
};
const StatusText kTexts[] = {
    {TVX_STATUS_OK, "Success"},
    {TVX_ERR_GENERAL, "General failure"},
    {TVX_ERR_INVALID_HANDLE, "Invalid device handle"},
    {TVX_ERR_INVALID_PARAMETER, "Invalid parameter"},
    {TVX_ERR_NOT_SUPPORTED, "Operation not supported"},
    {TVX_ERR_INVALID_REGION, "Invalid flash region"},
    {TVX_ERR_INVALID_SIZE, "Invalid size for the flash region"},
    {TVX_ERR_FLASH_WRITE, "Flash write failed"},
    {TVX_ERR_FLASH_READ, "Flash read failed"},
    {TVX_ERR_NO_MEMORY, "Out of memory"},
    {TVX_ERR_CHECK_CONDITION, "SCSI check condition"},
    {TVX_ERR_RESERVATION, "SCSI reservation conflict"},
    {TVX_ERR_ONLINE_UPDATE_FAILED, "Online flash update failed"},
    {TVX_ERR_BUSY, "Device busy, MPI reset pending"},
    {TVX_ERR_DATA_UNDERRUN, "SCSI data underrun"},
    {TVX_ERR_DATA_OVERRUN, "SCSI data overrun"},
    {TVX_ERR_NO_MORE_DEVICES, "No more devices"},
    {TVX_ERR_NOT_READY, "Device not ready"},
    {TVX_ERR_BUFFER_TOO_SMALL, "Buffer too small"},
    {TVX_ERR_RESET_PENDING, "Adapter reset pending"},
    {TVX_ERR_SCSI_RESIDUAL, "SCSI command completed with residual"},
    {TVX_ERR_SCSI_TIMEOUT, "SCSI command timed out"},
    {TVX_ERR_TARGET_NOT_READY, "Target not ready"},
    {TVX_ERR_SCSI_TRANSPORT, "SCSI transport error"},
    {TVX_ERR_SESSION_OPEN, "Flash update session already open"},
    {TVX_ERR_RESET_DISABLED, "Reset disabled, update done"},
};

template <class T> TVX_STATUS CopyRecords(const std::vector<T> &src, T *records, uint32_t *count) {
    if (!count) return TVX_ERR_INVALID_PARAMETER;
    uint32_t room = *count;
    uint32_t n = uint32_t(src.size());
    if (room > 0 && !records) return TVX_ERR_INVALID_PARAMETER;
    uint32_t put = std::min(room, n);
    for (uint32_t i = 0; i < put; ++i)
        records[i] = src[i];
    *count = n;
    return put < n ? TVX_ERR_BUFFER_TOO_SMALL : TVX_STATUS_OK;
}

} // namespace

extern "C" {

TVX_API void TvxSimReset(void) {
    State &s = S();
    s.host.reset();
    s.attempted = false;
    s.loadedFrom.clear();
    s.lastError.clear();
    s.handles.clear();
    s.openHandles = 0;
    s.handleBase = s.nextHandle;
    s.seq = 0;
}

TVX_API TVX_STATUS TvxSimGetInstanceInfo(uint32_t instance, char *card, uint32_t cardSize, uint32_t *chip,
                                         uint32_t *port) {
    Host *h = GetHost();
    if (!h || instance >= h->ports.size()) return TVX_ERR_NO_MORE_DEVICES;
    const Port &p = h->ports[instance];
    if (chip) *chip = uint32_t(p.chipIndex);
    if (port) *port = uint32_t(p.portIndex);
    return card ? CopyOut(card, cardSize, p.cardName) : TVX_STATUS_OK;
}

TVX_API TVX_STATUS TvxSimGetRegionInfo(uint32_t instance, uint32_t code, uint64_t *offset, uint32_t *size,
                                       uint32_t *source) {
    Host *h = GetHost();
    if (!h || instance >= h->ports.size()) return TVX_ERR_NO_MORE_DEVICES;
    Chip &c = *h->ports[instance].chip;
    const Region *r = FindRegion(c, code);
    if (!r) return TVX_ERR_INVALID_REGION;
    if (offset) *offset = r->offset;
    if (size) *size = r->size;
    if (source) *source = RegionSource(*h, c, *r);
    return TVX_STATUS_OK;
}

TVX_API TVX_STATUS TvxSimResetChip(uint32_t instance) {
    Host *h = GetHost();
    if (!h || instance >= h->ports.size()) return TVX_ERR_NO_MORE_DEVICES;
    Chip &c = *h->ports[instance].chip;
    if (IsDualBank(c)) RelatchRunningSet(*h, c);
    for (Port &q : h->ports)
        if (q.chip == &c && q.autoRunningFw) {
            q.runningFwFixed = false;
            RefreshRunning(*h, q);
        }
    json j = {{"op", "reset"}, {"status", Hex32(TVX_STATUS_OK)}};
    AddPortInfo(j, *h, int(instance));
    Journal(*h, j);
    return TVX_STATUS_OK;
}

TVX_API TVX_STATUS TvxSimGetRunningSet(uint32_t instance, uint32_t *runningSet, uint32_t *generation) {
    Host *h = GetHost();
    if (!h || instance >= h->ports.size()) return TVX_ERR_NO_MORE_DEVICES;
    Chip &c = *h->ports[instance].chip;
    if (!IsDualBank(c)) return TVX_ERR_NOT_SUPPORTED;
    RunningVersions(*h, c);
    if (runningSet) *runningSet = c.runningSet;
    if (generation) *generation = c.runningGeneration;
    return TVX_STATUS_OK;
}

TVX_API TVX_STATUS TvxSimGetLoadError(char *text, uint32_t size) {
    GetHost();
    return CopyOut(text, size, S().lastError);
}

TVX_API TVX_STATUS TvxOpenDevice(uint32_t instance, uint32_t *handle) {
    Host *h = GetHost();
    if (!handle) return Done(h, "TvxOpenDevice", -1, TVX_ERR_INVALID_PARAMETER);
    *handle = 0;
    if (!h) return Done(h, "TvxOpenDevice", -1, TVX_ERR_NO_MORE_DEVICES);
    // A scripted fault comes before the end-of-list answer, so the open that
    // ends discovery can fail too.
    TVX_STATUS st = CheckFault(*h, "TvxOpenDevice", int(instance), std::nullopt, false, false);
    if (instance >= h->ports.size()) return Done(h, "TvxOpenDevice", -1, st ? st : TVX_ERR_NO_MORE_DEVICES);
    Port &p = h->ports[instance];
    int port = int(instance);
    if (st == 0) {
        if (p.openMode == Port::NotReady && p.notReadyLeft > 0) {
            if (p.notReadyLeft != INT32_MAX) p.notReadyLeft--;
            st = TVX_ERR_NOT_READY;
        } else if (p.openMode == Port::Fail) {
            st = p.openFailStatus;
        }
    }
    json j = {{"op", "open"}};
    AddPortInfo(j, *h, port);
    if (st == 0) {
        State &s = S();
        if (s.openHandles == 0) { // numbering goes on; the list starts again
            s.handles.clear();
            s.handleBase = s.nextHandle;
        }
        uint32_t hd = s.nextHandle++;
        s.handles.push_back(Handle{port, false});
        s.openHandles++;
        *handle = hd;
        j["handle"] = hd;
    }
    j["status"] = Hex32(st);
    Journal(*h, j);
    return st;
}

TVX_API TVX_STATUS TvxCloseDevice(uint32_t handle) {
    Host *h;
    int port;
    TVX_STATUS st;
    Port *p = Resolve(handle, h, port, st);
    if (!p) return Done(h, "TvxCloseDevice", -1, st);
    if (uint32_t f = CheckFault(*h, "TvxCloseDevice", port, std::nullopt, false, false)) st = f;
    json j = {{"op", "close"}, {"handle", handle}};
    AddPortInfo(j, *h, port);
    if (st == 0) {
        Chip &c = *p->chip;
        if (c.sessionOpen && c.sessionHandle == handle) {
            // a session left open by the closing handle ends with it
            c.sessionOpen = false;
            j["session_dropped"] = c.sessionId;
        }
        FindHandle(handle)->port = -1;
        S().openHandles--;
    }
    j["status"] = Hex32(st);
    Journal(*h, j);
    return st;
}

static TVX_STATUS Aen(uint32_t handle, bool enable) {
    const char *fn = enable ? "TvxEnableAen" : "TvxDisableAen";
    Host *h;
    int port;
    TVX_STATUS st;
    Port *p = Resolve(handle, h, port, st);
    if (!p) return Done(h, fn, -1, st);
    if (!p->aenSupported)
        st = TVX_ERR_NOT_SUPPORTED;
    else if (uint32_t f = CheckFault(*h, fn, port, std::nullopt, false, false))
        st = f;
    else
        FindHandle(handle)->aen = enable;
    json j = {{"op", enable ? "aen_enable" : "aen_disable"}, {"handle", handle}, {"status", Hex32(st)}};
    AddPortInfo(j, *h, port);
    Journal(*h, j);
    return st;
}
TVX_API TVX_STATUS TvxEnableAen(uint32_t handle) { return Aen(handle, true); }
TVX_API TVX_STATUS TvxDisableAen(uint32_t handle) { return Aen(handle, false); }

TVX_API TVX_STATUS TvxGetVersion(char *text, uint32_t size) {
    Host *h = GetHost();
    if (uint32_t f = h ? CheckFault(*h, "TvxGetVersion", -1, std::nullopt, false, false) : 0) {
        if (text && size) text[0] = 0;
        return Done(h, "TvxGetVersion", -1, f);
    }
    return Done(h, "TvxGetVersion", -1, CopyOut(text, size, h ? h->version : std::string("1.28.122.0")));
}

TVX_API TVX_STATUS TvxGetErrorString(TVX_STATUS status, char *text, uint32_t size) {
    Host *h = S().host.get();
    if (uint32_t f = h ? CheckFault(*h, "TvxGetErrorString", -1, std::nullopt, false, false) : 0) {
        if (text && size) text[0] = 0;
        return Done(h, "TvxGetErrorString", -1, f);
    }
    for (const StatusText &t : kTexts)
        if (t.code == status) return Done(h, "TvxGetErrorString", -1, CopyOut(text, size, t.text));
    char b[48];
    std::snprintf(b, sizeof b, "Unknown status 0x%08X", status);
    return Done(h, "TvxGetErrorString", -1, CopyOut(text, size, b));
}

// Common prologue of the handle operations.
#define SIM_BEGIN(fn)                                                                                                  \
    static const char *const kFn = fn;                                                                                 \
    Host *h;                                                                                                           \
    int port;                                                                                                          \
    TVX_STATUS st;                                                                                                     \
    Port *p = Resolve(handle, h, port, st);                                                                            \
    if (!p) return Done(h, kFn, -1, st);                                                                               \
    if (uint32_t f_ = CheckFault(*h, kFn, port, std::nullopt, false, false)) return Done(h, kFn, port, f_);
#define SIM_END(status) return Done(h, kFn, port, (status))

TVX_API TVX_STATUS TvxGetHbaDeviceChipProperty(uint32_t handle, TVX_CHIP_PROPERTY *out) {
    SIM_BEGIN("TvxGetHbaDeviceChipProperty");
    if (!out) SIM_END(TVX_ERR_INVALID_PARAMETER);
    *out = p->chipProp;
    SIM_END(TVX_STATUS_OK);
}

TVX_API TVX_STATUS TvxGetHbaDeviceDriverProperty(uint32_t handle, TVX_DRIVER_PROPERTY *out) {
    SIM_BEGIN("TvxGetHbaDeviceDriverProperty");
    if (!out) SIM_END(TVX_ERR_INVALID_PARAMETER);
    *out = p->driverProp;
    SIM_END(TVX_STATUS_OK);
}

TVX_API TVX_STATUS TvxGetHbaDeviceNodeProperty(uint32_t handle, TVX_NODE_PROPERTY *out) {
    SIM_BEGIN("TvxGetHbaDeviceNodeProperty");
    if (!out) SIM_END(TVX_ERR_INVALID_PARAMETER);
    TVX_NODE_PROPERTY &np = p->nodeProp;
    FlashVersions v = ReadFlashVersions(*h, *p->chip);
    if (p->autoOptRom) {
        std::memset(np.OptRomVersion, 0, sizeof np.OptRomVersion);
        if (v.bios) std::snprintf(np.OptRomVersion, sizeof np.OptRomVersion, "%u.%02u", v.biosV[0], v.biosV[1]);
    }
    if (p->autoFlags) {
        np.FlashImageFlags &= ~(TVX_FLASH_IMAGE_FW | TVX_FLASH_IMAGE_EFI | TVX_FLASH_IMAGE_FCODE);
        if (v.fw) np.FlashImageFlags |= TVX_FLASH_IMAGE_FW;
        if (v.efi) np.FlashImageFlags |= TVX_FLASH_IMAGE_EFI;
        if (v.fcode) np.FlashImageFlags |= TVX_FLASH_IMAGE_FCODE;
    }
    static const uint8_t zero[3] = {0, 0, 0};
    if (p->autoFw) std::memcpy(np.FlashFwVersion, v.fw ? v.fwV : zero, 3);
    if (p->autoEfi) std::memcpy(np.FlashEfiVersion, v.efi ? v.efiV : zero, 2);
    if (p->autoFcode) {
        np.FlashFcodeVersion[0] = v.fcode ? v.fcodeV[0] : 0;
        np.FlashFcodeVersion[1] = v.fcode ? v.fcodeV[1] : 0;
        np.FlashFcodeVersion[2] = 0;
    }
    RefreshRunning(*h, *p);
    *out = np;
    SIM_END(TVX_STATUS_OK);
}

TVX_API TVX_STATUS TvxGetHbaDevicePortProperty(uint32_t handle, uint32_t portArg, TVX_PORT_PROPERTY *out) {
    SIM_BEGIN("TvxGetHbaDevicePortProperty");
    if (!out || portArg != 0) SIM_END(TVX_ERR_INVALID_PARAMETER);
    *out = p->portProp;
    SIM_END(TVX_STATUS_OK);
}

TVX_API TVX_STATUS TvxGetStatistics(uint32_t handle, uint32_t portArg, TVX_STATISTICS *out) {
    SIM_BEGIN("TvxGetStatistics");
    if (!out || portArg != 0) SIM_END(TVX_ERR_INVALID_PARAMETER);
    *out = p->stats;
    SIM_END(TVX_STATUS_OK);
}

TVX_API TVX_STATUS TvxGetBeaconControl(uint32_t handle, uint32_t *state) {
    SIM_BEGIN("TvxGetBeaconControl");
    if (!state) SIM_END(TVX_ERR_INVALID_PARAMETER);
    if (!p->beacon) SIM_END(TVX_ERR_NOT_SUPPORTED);
    *state = *p->beacon;
    SIM_END(TVX_STATUS_OK);
}

TVX_API TVX_STATUS TvxGetNVRam(uint32_t handle, uint32_t portArg, uint32_t region, uint8_t *buffer, uint32_t size) {
    SIM_BEGIN("TvxGetNVRam");
    if (!buffer || portArg != 0 || (region != 1 && region != 2)) SIM_END(TVX_ERR_INVALID_PARAMETER);
    if (size < TVX_NVRAM_SIZE) SIM_END(TVX_ERR_BUFFER_TOO_SMALL);
    std::memcpy(buffer, p->nvram[region - 1], TVX_NVRAM_SIZE);
    SIM_END(TVX_STATUS_OK);
}

TVX_API TVX_STATUS TvxGetVariableValue(uint32_t handle, const uint8_t *nvram, uint32_t param, uint32_t *value) {
    CallDetail detail("param", param);
    SIM_BEGIN("TvxGetVariableValue");
    (void)p;
    if (!nvram || !value || param == 0 || param > 255) SIM_END(TVX_ERR_INVALID_PARAMETER);
    if (param == TVX_NVRAM_PARAM_SSVID)
        *value = uint32_t(nvram[0x0C] | (nvram[0x0D] << 8));
    else if (param == TVX_NVRAM_PARAM_SSDID)
        *value = uint32_t(nvram[0x0E] | (nvram[0x0F] << 8));
    else
        *value = nvram[0x100 + param];
    SIM_END(TVX_STATUS_OK);
}

TVX_API TVX_STATUS TvxGetHbaSupportedFeatureList(uint32_t handle, TVX_FEATURE_LIST *list) {
    SIM_BEGIN("TvxGetHbaSupportedFeatureList");
    if (!list) SIM_END(TVX_ERR_INVALID_PARAMETER);
    uint32_t n = uint32_t(p->features.size());
    uint32_t room = list->Count;
    list->Count = n;
    if (room < n) SIM_END(TVX_ERR_BUFFER_TOO_SMALL);
    for (uint32_t i = 0; i < n; ++i)
        list->Entry[i] = p->features[i];
    SIM_END(TVX_STATUS_OK);
}

TVX_API TVX_STATUS TvxGetOptionRomLayout(uint32_t handle, uint32_t reserved, TVX_OPTION_ROM_LAYOUT *layout) {
    SIM_BEGIN("TvxGetOptionRomLayout");
    (void)reserved;
    if (!layout) SIM_END(TVX_ERR_INVALID_PARAMETER);
    const std::vector<Region> &rs = p->chip->regions;
    uint32_t n = uint32_t(rs.size());
    uint32_t room = layout->Size != 0 ? (layout->Size >= 8 ? (layout->Size - 8) / 8 : 0) : layout->Count;
    layout->Size = 8 + 8 * n;
    layout->Count = n;
    if (n == 0) SIM_END(TVX_ERR_NOT_SUPPORTED);
    if (room < n) SIM_END(TVX_ERR_BUFFER_TOO_SMALL);
    for (uint32_t i = 0; i < n; ++i) {
        layout->Region[i].Region = rs[i].code;
        layout->Region[i].Size = rs[i].size;
    }
    SIM_END(TVX_STATUS_OK);
}

TVX_API TVX_STATUS TvxGetOptionRomEx(uint32_t handle, uint32_t reserved, uint8_t *buffer, uint32_t size,
                                     uint32_t region) {
    CallDetail detail("region", region);
    Host *h;
    int port;
    TVX_STATUS st;
    Port *p = Resolve(handle, h, port, st);
    const char *fn = "TvxGetOptionRomEx";
    if (!p) return Done(h, fn, -1, st);
    (void)reserved;
    const Region *r = FindRegion(*p->chip, region);
    if (!buffer) return Done(h, fn, port, TVX_ERR_INVALID_PARAMETER);
    if (!r) return Done(h, fn, port, TVX_ERR_INVALID_REGION);
    if (size == 0 || size > r->size) return Done(h, fn, port, TVX_ERR_INVALID_SIZE);
    if (uint32_t f = CheckFault(*h, fn, port, region, false, true)) return Done(h, fn, port, f);
    if (!ReadRegion(*h, *p->chip, *r, 0, buffer, size)) return Done(h, fn, port, TVX_ERR_FLASH_READ);
    return Done(h, fn, port, TVX_STATUS_OK);
}

TVX_API TVX_STATUS TvxUpdateOptionRomEx(uint32_t handle, uint32_t reserved, const uint8_t *buffer, uint32_t size,
                                        uint32_t region) {
    (void)reserved;
    return RegionWrite("TvxUpdateOptionRomEx", handle, 0, buffer, size, region, false);
}

TVX_API TVX_STATUS TvxUpdateOptionRomEx2(uint32_t handle, uint32_t options, const uint8_t *buffer, uint32_t size,
                                         uint32_t region) {
    return RegionWrite("TvxUpdateOptionRomEx2", handle, options, buffer, size, region, true);
}

TVX_API TVX_STATUS TvxUpdateOptionRom(uint32_t handle, uint32_t reserved, const uint8_t *buffer, uint32_t size) {
    Host *h;
    int port;
    TVX_STATUS st;
    Port *p = Resolve(handle, h, port, st);
    if (!p) return Done(h, "TvxUpdateOptionRom", -1, st);
    (void)reserved;
    Chip &chip = *p->chip;
    json j = {{"op", "write"}, {"fn", "TvxUpdateOptionRom"}, {"region", "all"}, {"size", size}};
    AddPortInfo(j, *h, port);
    if (!buffer)
        st = TVX_ERR_INVALID_PARAMETER;
    else if (size == 0 || size > chip.flashSize)
        st = TVX_ERR_INVALID_SIZE;
    else if (uint32_t f = CheckFault(*h, "TvxUpdateOptionRom", port, 0xFFu, true, false))
        st = f;
    else {
        // The whole flash is erased and the image written from its start.
        Bytes img;
        const uint8_t *flash = buffer;
        if (size < chip.flashSize) {
            img.assign(size_t(chip.flashSize), 0xFF);
            std::memcpy(img.data(), buffer, size);
            flash = img.data();
        }
        st = WriteFlash(*h, chip, 0, flash, size_t(chip.flashSize)) ? TVX_STATUS_OK : TVX_ERR_FLASH_WRITE;
        if (st == TVX_STATUS_OK && chip.resetMode == Chip::Always) st = TVX_ERR_RESET_DISABLED;
    }
    return FinishWrite(*h, j, port, buffer, size, st);
}

TVX_API TVX_STATUS TvxGetOptionRomOffset(uint32_t handle, uint32_t reserved, uint8_t *buffer, uint32_t length,
                                         uint32_t offset) {
    Host *h;
    int port;
    TVX_STATUS st;
    Port *p = Resolve(handle, h, port, st);
    const char *fn = "TvxGetOptionRomOffset";
    if (!p) return Done(h, fn, -1, st);
    (void)reserved;
    if (!buffer) return Done(h, fn, port, TVX_ERR_INVALID_PARAMETER);
    if (length == 0 || uint64_t(offset) + length > p->chip->flashSize) return Done(h, fn, port, TVX_ERR_INVALID_SIZE);
    if (uint32_t f = CheckFault(*h, fn, port, std::nullopt, false, true)) return Done(h, fn, port, f);
    if (!ReadFlash(*h, *p->chip, offset, buffer, length)) return Done(h, fn, port, TVX_ERR_FLASH_READ);
    return Done(h, fn, port, TVX_STATUS_OK);
}

TVX_API TVX_STATUS TvxGetActiveRegions(uint32_t handle, uint32_t reserved, TVX_ACTIVE_REGIONS *out) {
    SIM_BEGIN("TvxGetActiveRegions");
    (void)reserved;
    if (!out) SIM_END(TVX_ERR_INVALID_PARAMETER);
    bool known = false;
    TVX_ACTIVE_REGIONS a = DeriveActiveRegions(*h, *p->chip, known);
    if (!known) SIM_END(TVX_ERR_NOT_SUPPORTED);
    *out = a;
    SIM_END(TVX_STATUS_OK);
}

TVX_API TVX_STATUS TvxGetVpd(uint32_t handle, uint32_t reserved, uint8_t *buffer, uint32_t *size) {
    SIM_BEGIN("TvxGetVpd");
    (void)reserved;
    if (!buffer || !size) SIM_END(TVX_ERR_INVALID_PARAMETER);
    Chip &c = *p->chip;
    if (c.vpdRegion) {
        const Region *r = FindRegion(c, c.vpdRegion);
        if (*size < r->size) {
            *size = r->size;
            SIM_END(TVX_ERR_BUFFER_TOO_SMALL);
        }
        if (!ReadRegion(*h, c, *r, 0, buffer, r->size)) SIM_END(TVX_ERR_FLASH_READ);
        *size = r->size;
        SIM_END(TVX_STATUS_OK);
    }
    uint32_t n = uint32_t(c.vpdInline.size());
    if (*size < n) {
        *size = n;
        SIM_END(TVX_ERR_BUFFER_TOO_SMALL);
    }
    std::memcpy(buffer, c.vpdInline.data(), n);
    *size = n;
    SIM_END(TVX_STATUS_OK);
}

TVX_API TVX_STATUS TvxGetFlashUpdateCapabilities(uint32_t handle, uint32_t reserved, uint32_t *capability) {
    SIM_BEGIN("TvxGetFlashUpdateCapabilities");
    (void)reserved;
    if (!capability) SIM_END(TVX_ERR_INVALID_PARAMETER);
    if (!p->chip->updateCaps) SIM_END(TVX_ERR_NOT_SUPPORTED);
    *capability = *p->chip->updateCaps;
    SIM_END(TVX_STATUS_OK);
}

TVX_API TVX_STATUS TvxStartFlashUpdate(uint32_t handle, uint32_t reserved, uint32_t *session) {
    Host *h;
    int port;
    TVX_STATUS st;
    Port *p = Resolve(handle, h, port, st);
    if (!p) return Done(h, "TvxStartFlashUpdate", -1, st);
    (void)reserved;
    Chip &c = *p->chip;
    json j = {{"op", "session_start"}};
    AddPortInfo(j, *h, port);
    if (!session)
        st = TVX_ERR_INVALID_PARAMETER;
    else if (!c.updateCaps)
        st = TVX_ERR_NOT_SUPPORTED;
    else if (uint32_t f = CheckFault(*h, "TvxStartFlashUpdate", port, std::nullopt, false, false))
        st = f;
    else if (c.sessionOpen || c.sessionBusy)
        st = TVX_ERR_SESSION_OPEN;
    else {
        c.sessionOpen = true;
        c.sessionId = S().nextSession++;
        c.sessionHandle = handle;
        *session = c.sessionId;
        j["session"] = c.sessionId;
    }
    j["status"] = Hex32(st);
    Journal(*h, j);
    return st;
}

TVX_API TVX_STATUS TvxSendFlashUpdateFWAttributes(uint32_t handle, uint32_t reserved, const uint8_t *attributes,
                                                  uint32_t size) {
    Host *h;
    int port;
    TVX_STATUS st;
    Port *p = Resolve(handle, h, port, st);
    if (!p) return Done(h, "TvxSendFlashUpdateFWAttributes", -1, st);
    (void)reserved;
    json j = {{"op", "fw_attributes"}, {"size", size}};
    AddPortInfo(j, *h, port);
    if (!attributes || size == 0 || size > 4096)
        st = TVX_ERR_INVALID_PARAMETER;
    else if (!p->chip->updateCaps)
        st = TVX_ERR_NOT_SUPPORTED;
    else if (uint32_t f = CheckFault(*h, "TvxSendFlashUpdateFWAttributes", port, std::nullopt, false, false))
        st = f;
    if (attributes && size > 0 && size <= 4096) {
        std::string hex;
        char b[4];
        for (uint32_t i = 0; i < size; ++i) {
            std::snprintf(b, sizeof b, "%02x", attributes[i]);
            hex += b;
        }
        j["data"] = hex;
    }
    j["status"] = Hex32(st);
    Journal(*h, j);
    return st;
}

TVX_API TVX_STATUS TvxEndFlashUpdate(uint32_t handle, uint32_t reserved, uint32_t session) {
    Host *h;
    int port;
    TVX_STATUS st;
    Port *p = Resolve(handle, h, port, st);
    if (!p) return Done(h, "TvxEndFlashUpdate", -1, st);
    (void)reserved;
    Chip &c = *p->chip;
    json j = {{"op", "session_end"}, {"session", session}};
    AddPortInfo(j, *h, port);
    if (!c.sessionOpen || c.sessionId != session)
        st = TVX_ERR_INVALID_PARAMETER;
    else if (uint32_t f = CheckFault(*h, "TvxEndFlashUpdate", port, std::nullopt, false, false))
        st = f;
    else
        c.sessionOpen = false;
    j["status"] = Hex32(st);
    Journal(*h, j);
    return st;
}

TVX_API TVX_STATUS TvxOnlineActivateFlashUpdate(uint32_t handle, uint32_t reserved) {
    Host *h;
    int port;
    TVX_STATUS st;
    Port *p = Resolve(handle, h, port, st);
    if (!p) return Done(h, "TvxOnlineActivateFlashUpdate", -1, st);
    (void)reserved;
    Chip &c = *p->chip;
    json j = {{"op", "activate"}};
    AddPortInfo(j, *h, port);
    if (!c.updateCaps)
        st = TVX_ERR_NOT_SUPPORTED;
    else if (c.sessionOpen)
        st = TVX_ERR_SESSION_OPEN;
    else if (uint32_t f = CheckFault(*h, "TvxOnlineActivateFlashUpdate", port, std::nullopt, false, false))
        st = f;
    else {
        // The chip now runs what its flash holds.
        if (IsDualBank(c)) RelatchRunningSet(*h, c);
        for (Port &q : h->ports)
            if (q.chip == &c && q.autoRunningFw) {
                q.runningFwFixed = false;
                RefreshRunning(*h, q);
            }
    }
    j["status"] = Hex32(st);
    Journal(*h, j);
    return st;
}

TVX_API TVX_STATUS TvxGetDiscTargetProperty(uint32_t handle, uint32_t portArg, uint32_t index, uint32_t reserved,
                                            TVX_DISC_TARGET_PROPERTY *out) {
    SIM_BEGIN("TvxGetDiscTargetProperty");
    (void)reserved;
    if (!out || portArg != 0) SIM_END(TVX_ERR_INVALID_PARAMETER);
    if (index < p->discoveredTargets.size()) {
        const Target &t = p->targets[p->discoveredTargets[index]];
        std::memset(out, 0, sizeof *out);
        std::memcpy(out->NodeWWN, t.nodeWwn, 8);
        std::memcpy(out->PortWWN, t.portWwn, 8);
        std::memcpy(out->PortId, t.portId, 3);
        out->AddressWord1 = t.word1;
        out->AddressWord2 = t.word2;
        out->Marker = t.marker;
        SIM_END(TVX_STATUS_OK);
    }
    SIM_END(TVX_ERR_INVALID_PARAMETER);
}

TVX_API TVX_STATUS TvxGetPortDatabase(uint32_t handle, uint32_t mode, uint8_t *buffer, uint32_t size, uint32_t *count) {
    SIM_BEGIN("TvxGetPortDatabase");
    if (!buffer || !count) SIM_END(TVX_ERR_INVALID_PARAMETER);
    if (mode != TVX_PORTDB_MODE_KNOWN && mode != TVX_PORTDB_MODE_FABRIC && mode != TVX_PORTDB_MODE_LOOP)
        SIM_END(TVX_ERR_INVALID_PARAMETER);
    std::vector<PortDbEntry> entries;
    if (mode == TVX_PORTDB_MODE_KNOWN && p->portDbFromTargets) {
        for (const Target &t : p->targets) {
            PortDbEntry e;
            std::memcpy(e.nodeWwn, t.nodeWwn, 8);
            std::memcpy(e.portWwn, t.portWwn, 8);
            std::memcpy(e.portId, t.portId, 3);
            e.word1 = t.word1;
            e.word2 = t.word2;
            e.marker = t.marker;
            entries.push_back(e);
        }
    } else if (auto it = p->portDb.find(mode); it != p->portDb.end()) {
        entries = it->second;
    }
    uint32_t n = uint32_t(entries.size());
    *count = n;
    if (size < TVX_PORTDB_HEADER_SIZE + TVX_PORTDB_ENTRY_SIZE) SIM_END(TVX_ERR_BUFFER_TOO_SMALL);
    uint32_t room = (size - TVX_PORTDB_HEADER_SIZE) / TVX_PORTDB_ENTRY_SIZE;
    uint32_t put = std::min(room, n);
    std::memset(buffer, 0, size);
    for (int i = 0; i < 4; ++i) {
        buffer[i] = uint8_t(put >> (8 * i));
        buffer[4 + i] = uint8_t(mode >> (8 * i));
    }
    for (uint32_t i = 0; i < put; ++i) {
        uint8_t *e = buffer + TVX_PORTDB_HEADER_SIZE + size_t(i) * TVX_PORTDB_ENTRY_SIZE;
        std::memcpy(e + TVX_PORTDB_OFF_NODEWWN, entries[i].nodeWwn, 8);
        std::memcpy(e + TVX_PORTDB_OFF_PORTWWN, entries[i].portWwn, 8);
        std::memcpy(e + TVX_PORTDB_OFF_PORTID, entries[i].portId, 3);
        e[TVX_PORTDB_OFF_WORD1] = uint8_t(entries[i].word1);
        e[TVX_PORTDB_OFF_WORD1 + 1] = uint8_t(entries[i].word1 >> 8);
        e[TVX_PORTDB_OFF_WORD2] = uint8_t(entries[i].word2);
        e[TVX_PORTDB_OFF_WORD2 + 1] = uint8_t(entries[i].word2 >> 8);
        e[TVX_PORTDB_OFF_MARKER] = entries[i].marker;
    }
    SIM_END(put < n ? TVX_ERR_BUFFER_TOO_SMALL : TVX_STATUS_OK);
}

TVX_API TVX_STATUS ITvxFoGetTargetData(uint32_t handle, TVX_FO_TARGET_DATA *records, uint32_t *count) {
    SIM_BEGIN("ITvxFoGetTargetData");
    SIM_END(CopyRecords(p->foTargets, records, count));
}

TVX_API TVX_STATUS ITvxFoGetLunData(uint32_t handle, TVX_FO_LUN_DATA *records, uint32_t *count) {
    SIM_BEGIN("ITvxFoGetLunData");
    SIM_END(CopyRecords(p->foLuns, records, count));
}

TVX_API TVX_STATUS TvxSendScsiInquiryCmdFC(uint32_t handle, const TVX_SCSI_ADDRESS *addr, uint8_t evpd, uint8_t page,
                                           uint8_t *data, uint32_t dataSize, uint8_t *sense, uint32_t senseSize) {
    SIM_BEGIN("TvxSendScsiInquiryCmdFC");
    SIM_END(ScsiInquiry(*p, addr, evpd, page, data, dataSize, sense, senseSize));
}

TVX_API TVX_STATUS TvxSendScsiReportLunsCmdFC(uint32_t handle, const TVX_SCSI_ADDRESS *addr, uint8_t *data,
                                              uint32_t dataSize, uint8_t *sense, uint32_t senseSize) {
    SIM_BEGIN("TvxSendScsiReportLunsCmdFC");
    SIM_END(ScsiReportLuns(*p, addr, data, dataSize, sense, senseSize));
}

TVX_API TVX_STATUS TvxSendScsiReadCapacityCmdFC(uint32_t handle, const TVX_SCSI_ADDRESS *addr, uint8_t *data,
                                                uint32_t dataSize, uint8_t *sense, uint32_t senseSize) {
    SIM_BEGIN("TvxSendScsiReadCapacityCmdFC");
    SIM_END(ScsiReadCapacity(*p, addr, data, dataSize, sense, senseSize));
}

TVX_API TVX_STATUS TvxSendScsiPassThruFC(uint32_t handle, const TVX_SCSI_ADDRESS *addr, const uint8_t *cdb,
                                         uint32_t cdbLength, uint32_t direction, uint8_t *data, uint32_t dataSize,
                                         uint8_t *sense, uint32_t senseSize) {
    SIM_BEGIN("TvxSendScsiPassThruFC");
    SIM_END(ScsiPassThru(*p, addr, cdb, cdbLength, direction, data, dataSize, sense, senseSize));
}

} // extern "C"
