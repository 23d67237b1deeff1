// Data-file lookup, file reading, shared messages and the run of one
// data-file update over all adapters.

#include "datafiles/datrun.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "app/output.h"
#include "app/settings.h"
#include "inventory/adapters_table.h"
#include "inventory/cxrtype.h"
#include "oss/oss.h"
#include "update/flashregion.h"
#include "update/policy.h"

namespace datfile {

namespace {

struct FileCloser {
    void operator()(std::FILE *f) const {
        if (f != nullptr) std::fclose(f);
    }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

} // namespace

AdapterFacts GetAdapterFacts(const TVXDevice *device) {
    AdapterFacts f;
    if (device == nullptr) return f;
    uint32_t ssvid = 0;
    uint32_t ssdid = 0;
    f.idsRead = TvxGetVariableValue(device->handle, device->nvram1, TVX_NVRAM_PARAM_SSVID, &ssvid) == TVX_STATUS_OK;
    f.idsRead = TvxGetVariableValue(device->handle, device->nvram1, TVX_NVRAM_PARAM_SSDID, &ssdid) == TVX_STATUS_OK &&
                f.idsRead;
    f.ssvid = f.idsRead ? static_cast<uint16_t>(ssvid) : 0;
    f.ssdid = f.idsRead ? static_cast<uint16_t>(ssdid) : 0;
    f.cxrType = GetCxrType(device);
    f.chipRevision = device->chipProperty.ChipType;
    f.instance = device->instance;
    f.port = AdapterPort(device);
    return f;
}

int UnreadableIds(const char *trace) {
    OutputLevelMessage(LEVEL_DEBUG, "%s: subsystem IDs of the adapter unreadable", trace);
    return DAT_SSID_MISMATCH;
}

int AdapterPort(const TVXDevice *device) {
    return device != nullptr && device->physicalPort != 0 ? static_cast<int>(device->physicalPort) : 1;
}

std::string ModelText(const TVXDevice *device) {
    if (device == nullptr) return {};
    return std::string(device->nodeProperty.Model,
                       strnlen(device->nodeProperty.Model, sizeof device->nodeProperty.Model));
}

bool IsVirtualPort(const TVXDevice *device) {
    return device != nullptr && device->nodeProperty.InterfaceKind == TVX_INTERFACE_VIRTUAL;
}

std::string CleanDriverVersion(const TVXDevice *device) {
    std::string out;
    if (device == nullptr) return out;
    const char *text = device->nodeProperty.DriverVersion;
    size_t len = strnlen(text, sizeof device->nodeProperty.DriverVersion);
    size_t i = len > 0 && std::isspace(static_cast<unsigned char>(text[0])) ? 1 : 0;
    for (; i < len; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (std::isalnum(c) || std::isspace(c) || std::ispunct(c)) out.push_back(static_cast<char>(c));
    }
    return out;
}

void VirtualPortMessage(const TVXDevice *device) {
    const uint8_t *w = device->portProperty.PortWWN;
    OutputMessage("Option is not available with virtual port HBA (%02X-%02X-%02X-%02X-%02X-%02X-%02X-%02X)!", w[0],
                  w[1], w[2], w[3], w[4], w[5], w[6], w[7]);
}

void NotSupportedMessage(const TVXDevice *device) {
    OutputMessage("Current command is not supported with HBA instance %d - %s!", static_cast<int>(device->instance),
                  ModelText(device).c_str());
}

void UnsupportedMessage(const TVXDevice *device) {
    OutputMessage("Option is unsupported with selected HBA (Instance %d - %s)!", static_cast<int>(device->instance),
                  ModelText(device).c_str());
}

void RegionReadMessage(const TVXDevice *device) {
    OutputMessage("Unable to retrieve specified flash region area of this HBA (Instance %lu - %s)!",
                  static_cast<unsigned long>(device->instance), ModelText(device).c_str());
}

int ReadDataFile(const std::string &path, std::vector<uint8_t> &bytes) {
    bytes.clear();
    FilePtr f(std::fopen(path.c_str(), "rb"));
    if (!f) return DAT_CANNOT_OPEN;
    uint8_t chunk[4096];
    for (;;) {
        size_t n = std::fread(chunk, 1, sizeof chunk, f.get());
        if (n > 0) {
            if (bytes.size() + n > kMaxFileSize) return DAT_BAD_SIZE;
            try {
                bytes.insert(bytes.end(), chunk, chunk + n);
            } catch (const std::bad_alloc &) {
                return DAT_NO_MEMORY;
            }
        }
        if (n < sizeof chunk) break;
    }
    return std::ferror(f.get()) ? DAT_READ_ERROR : DAT_OK;
}

long DataFileSize(const std::string &path) {
    FilePtr f(std::fopen(path.c_str(), "rb"));
    if (!f) return -1;
    if (std::fseek(f.get(), 0, SEEK_END) != 0) return 0;
    long size = std::ftell(f.get());
    return size < 0 ? 0 : size;
}

bool AllocBuffer(std::vector<uint8_t> &buf, size_t size, uint8_t fill) {
    try {
        buf.assign(size, fill);
    } catch (const std::bad_alloc &) {
        return false;
    }
    return true;
}

Outcome CountBoardConfigResult(int status) {
    if (status == 0 || status == 214 || status == 215) return Outcome::Done;
    if (status == 213) return Outcome::Neither;
    return Outcome::Failed;
}

int ReadBoardConfigRegion(TVXDevice *device, std::span<uint8_t> buffer, uint32_t region, uint32_t *) {
    return getHBAOptionROMInfos(device, buffer, region);
}

uint32_t WriteBoardConfigRegion(TVXDevice *device, std::span<const uint8_t> region, uint32_t code, int) {
    return AppUpdateOptionRomEx2(device, region.data(), code, static_cast<uint32_t>(region.size()), 0);
}

int RebuildRegionFromDataFile(const RegionRebuild &spec, TVXDevice *device, const char *path) {
    if (device == nullptr) {
        if (spec.tellNoAdapter) OutputMessage("%s", "Unable to find the selected HBA!");
        return DAT_NO_ADAPTER;
    }
    if (IsVirtualPort(device)) {
        VirtualPortMessage(device);
        return 286;
    }
    const int cxr = GetCxrType(device);
    if (!spec.accepts(cxr)) {
        NotSupportedMessage(device);
        return 121;
    }
    if (spec.refuseInboxDriver && cxr >= 12) {
        const std::string driver = CleanDriverVersion(device);
        if (isInboxDriverVersion(driver.c_str())) {
            OutputMessage("Command aborted! Please update existing driver (%s) and try again.", driver.c_str());
            return 120;
        }
    }
    uint16_t chipType = 0;
    if (isAdapterSupported(device, &chipType) == 0) {
        UnsupportedMessage(device);
        return 7;
    }

    const char *file = path != nullptr ? path : "";
    const long fileSize = DataFileSize(file);
    if (spec.traceFileSize)
        OutputLevelMessage(LEVEL_DEBUG, "%s: getFileSize returns %ld with status %d", spec.name,
                           fileSize < 0 ? 0 : fileSize, fileSize < 0 ? 1 : 0);
    std::vector<uint8_t> bytes;
    int st = fileSize < 0 ? DAT_CANNOT_OPEN : spec.readFileFirst ? ReadDataFile(file, bytes) : DAT_OK;
    if (st == DAT_CANNOT_OPEN) {
        OutputMessage("Failed to open file %s for reading!", file);
        return DAT_CANNOT_OPEN;
    }
    if (st != DAT_OK) {
        spec.failure(device, file, st);
        return st;
    }

    uint32_t size = 0;
    st = GetOptionROMRegionSize(device, spec.region, &size);
    if (st != 0 && !spec.traceRegionRead) return st;
    std::vector<uint8_t> region, scratch;
    if (st == 0 && (!AllocBuffer(region, size) || (spec.scratch && !AllocBuffer(scratch, size, 0xFF)))) {
        OutputMessage("%s", "Memory allocation error!");
        return DAT_NO_MEMORY;
    }
    if (st == 0) st = spec.read(device, region, spec.region, &size);
    if (spec.traceRegionRead)
        OutputLevelMessage(LEVEL_DEBUG, "%s: Region=0x%X size=0x%x", spec.name, spec.region, size);
    if (st != 0) {
        RegionReadMessage(device);
        return st;
    }

    // The read tells the region's size again; the build sees no more of it.
    const std::span<uint8_t> built = std::span<uint8_t>(region).first(std::min<size_t>(size, region.size()));
    st = spec.build(device, file, bytes, built,
                    std::span<uint8_t>(scratch).first(std::min<size_t>(size, scratch.size())));
    if (st != DAT_OK) {
        spec.failure(device, file, st);
        return st;
    }
    char text[300];
    std::snprintf(text, sizeof text, "Updating %s of HBA instance %d - %s...", spec.progress,
                  static_cast<int>(device->instance), ModelText(device).c_str());
    OutputText(text);
    const uint32_t wr = spec.write(device, region, spec.region, cxr);
    // 0x20000100: written, the chip is reset at the next reboot.
    if (wr != TVX_STATUS_OK && wr != TVX_RESULT_RESET_DISABLED) {
        OutputMessage("Unable to update %s of HBA %d. Error 0x%x (%s)!", spec.what, static_cast<int>(device->instance),
                      wr, LibraryErrorText(wr).c_str());
        return spec.writeFailed;
    }
    OutputMessage("%s", spec.success);
    return wr == TVX_STATUS_OK ? 0 : spec.resetDisabled;
}

int RunDataFileUpdate(const RunSpec &spec, const char *fileName) {
    OutputLevelMessage(LEVEL_DEBUG, "%s: Enter...", spec.name);
    if (g_HBAList.count == 0 || g_HBAList.first == nullptr) {
        OutputMessage("%s", "No compatible HBA(s) found in current system !");
        return 215;
    }
    uint32_t counted = 0, done = 0, failed = 0, visited = 0;
    for (TVXDevice *d = g_HBAList.first; d != nullptr && visited < g_HBAList.count; d = d->next, ++visited) {
        if (IsVirtualPort(d) || !spec.accepts(d)) continue;
        ++counted;
        const int inst = static_cast<int>(d->instance);
        const std::string model = ModelText(d);
        if (GetCxrType(d) >= 12) {
            const std::string driver = CleanDriverVersion(d);
            if (isInboxDriverVersion(driver.c_str())) {
                OutputLevelMessage(LEVEL_DEBUG, "Detected Windows Server 2008 inbox driver");
                OutputMessage("Command aborted! Please update existing driver (%s) and try again.", driver.c_str());
                continue;
            }
        }
        const uint16_t ssvid = GetNvramSubsysVendorId(d);
        const uint16_t ssdid = GetNvramSubsysDeviceId(d);
        std::string path;
        if (FindMatchingPayloadFile(fileName, path, ssdid, ssvid) == 0) {
            OutputLevelMessage(LEVEL_DEBUG, spec.skipFormat, inst, model.c_str());
            continue;
        }
        OutputLevelMessage(LEVEL_DEBUG, "%s: HBA %d %s ssvid=0x%04X, ssdid=0x%04X file=%s", spec.name, inst,
                           model.c_str(), ssvid, ssdid, path.c_str());
        long size = DataFileSize(path);
        OutputLevelMessage(LEVEL_DEBUG, "%s: getFileSize returns %ld with status %d", spec.name, size < 0 ? 0 : size,
                           size < 0 ? 1 : 0);
        if (size < 0) {
            OutputMessage("Failed to open file %s for reading!", path.c_str());
            OutputLevelMessage(LEVEL_DEBUG, "%s: returns %d", spec.name, 1);
            return 1;
        }
        switch (spec.count(spec.update(d, path.c_str()))) {
        case Outcome::Done: ++done; break;
        case Outcome::Failed: ++failed; break;
        case Outcome::Neither: break;
        }
    }
    int status = (done == counted && failed == 0) ? 0 : spec.failStatus;
    OutputLevelMessage(LEVEL_DEBUG, "%s: returns %d", spec.name, status);
    return status;
}

} // namespace datfile

int FindMatchingPayloadFile(const char *fileName, std::string &path, uint16_t ssdid, uint16_t ssvid) {
    char folder[16];
    std::snprintf(folder, sizeof folder, "x%04Xx%04X", ssvid, ssdid);
    path = std::string(g_szConfigPath) + OSS_PATH_SEPARATOR + folder + OSS_PATH_SEPARATOR +
           (fileName != nullptr ? fileName : "");
    OutputLevelMessage(LEVEL_DEBUG, "FindMatchingPayloadFile: Full path file=%s", path.c_str());
    std::FILE *f = std::fopen(path.c_str(), "r");
    if (f == nullptr) {
        OutputLevelMessage(LEVEL_DEBUG, "FindMatchingPayloadFile: Config data file not found!");
        return 0;
    }
    std::fclose(f);
    OutputLevelMessage(LEVEL_DEBUG, "FindMatchingPayloadFile: Found matching file %s", path.c_str());
    return 1;
}
