// Flash region primitives: the region request, the layout query, region
// reads and region writes with the library's retry rule.

#include "update/flashregion.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <new>

#include "app/output.h"
#include "oss/oss.h"
#include "update/scratch.h"

OptionROMRequest *g_ptrOptionROMRequest = nullptr;

namespace {

// Upper bound of layout entries accepted from the library; a count beyond
// it is taken as a broken answer.
constexpr uint32_t MAX_LAYOUT_ENTRIES = 4096;

constexpr uint32_t FILE_ALL_SMALL = 0x10000;
constexpr uint32_t FILE_ALL_128K = 0x20000;
constexpr uint32_t FILE_BOOT_MAX = 0x40000;
constexpr uint32_t FILE_FW_MIN = 0x10000;

bool EqualNoCase(const char *a, const char *b) {
    if (a == nullptr || b == nullptr) return false;
    size_t la = std::strlen(a);
    if (la != std::strlen(b)) return false;
    for (size_t i = 0; i < la; ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// Holds the program mutex for the lifetime of the object.
class ProgramLock {
  public:
    ProgramLock() : held_(OSSEnterCriticalSection() == 0) {}
    ~ProgramLock() {
        if (held_) OSSLeaveCriticalSection();
    }
    ProgramLock(const ProgramLock &) = delete;
    ProgramLock &operator=(const ProgramLock &) = delete;

  private:
    bool held_;
};

bool IsResetAnswer(uint32_t st) { return st == TVX_RESULT_MPI_RESET || st == TVX_RESULT_CXR_RESET; }

// Region read with the reset retry rule; the last library result.
uint32_t ReadRegionWithRetry(const char *who, const TVXDevice *device, uint8_t *buf, uint32_t size, uint32_t region) {
    uint32_t st = TVX_STATUS_OK;
    for (int calls = 1;; ++calls) {
        st = TvxGetOptionRomEx(device->handle, 0, buf, size, region);
        if (!IsResetAnswer(st) || calls >= OPTROM_RESET_MAX_CALLS) break;
        OutputLevelMessage(LEVEL_DEBUG, "%s: Waiting for CXR reset (0x%x - %s)", who, st, LibraryErrorText(st).c_str());
        OSSSleep(OPTROM_RESET_WAIT_MS);
    }
    return st;
}

const TVX_REGION_ENTRY *FindRegion(const std::vector<TVX_REGION_ENTRY> &layout, uint32_t region) {
    for (const auto &e : layout)
        if (e.Region == region) return &e;
    return nullptr;
}

// Region write with the reset retry rule.
uint32_t WriteRegionWithRetry(const TVXDevice *device, const uint8_t *buffer, uint32_t region, uint32_t size,
                              uint16_t options) {
    uint32_t st = TVX_STATUS_OK;
    for (int calls = 1;; ++calls) {
        OSSBeginCriticalWrite();
        st = TvxUpdateOptionRomEx2(device->handle, options, buffer, size, region);
        OSSEndCriticalWrite();
        if (st == TVX_STATUS_OK) break;
        if (st == TVX_RESULT_MPI_RESET) {
            OutputLevelMessage(LEVEL_DEBUG, "AppUpdateOptionRomEx2: Waiting for mpi reset (0x%x - %s)", st,
                               LibraryErrorText(st).c_str());
        } else if (st == TVX_RESULT_CXR_RESET) {
            OutputLevelMessage(LEVEL_DEBUG, "AppUpdateOptionRomEx2: Waiting for CXR reset (0x%x - %s)", st,
                               LibraryErrorText(st).c_str());
        } else if (st == TVX_RESULT_RESET_DISABLED) {
            OutputLevelMessage(LEVEL_DEBUG, "AppUpdateOptionRomEx2: Reset disabled by API (0x%x - %s)", st,
                               LibraryErrorText(st).c_str());
            break;
        } else {
            OutputLevelMessage(LEVEL_DEBUG, "AppUpdateOptionRomEx2: TvxUpdateOptionRomEx2 returns (0x%x - %s).", st,
                               LibraryErrorText(st).c_str());
            break;
        }
        if (calls >= OPTROM_RESET_MAX_CALLS) break;
        OSSSleep(OPTROM_RESET_WAIT_MS);
    }
    return st;
}

} // namespace

std::string LibraryErrorText(uint32_t status) {
    char text[256] = {};
    TvxGetErrorString(status, text, sizeof(text));
    text[sizeof(text) - 1] = '\0';
    return text;
}

uint32_t QueryOptionRomLayout(const TVXDevice *device, std::vector<TVX_REGION_ENTRY> &layout) {
    layout.clear();
    TVX_OPTION_ROM_LAYOUT header{};
    header.Size = 8;
    uint32_t st = TvxGetOptionRomLayout(device->handle, 0, &header);
    if (st != TVX_STATUS_OK && st != TVX_ERR_BUFFER_TOO_SMALL) return st;
    uint32_t count = header.Count;
    if (count == 0) return TVX_STATUS_OK;
    if (count > MAX_LAYOUT_ENTRIES) return TVX_ERR_GENERAL;
    std::vector<uint32_t> block;
    try {
        block.assign(2 + 2 * static_cast<size_t>(count), 0);
    } catch (const std::bad_alloc &) {
        return TVX_ERR_NO_MEMORY;
    }
    auto *full = reinterpret_cast<TVX_OPTION_ROM_LAYOUT *>(block.data());
    full->Size = static_cast<uint32_t>(block.size() * sizeof(uint32_t));
    full->Count = count;
    st = TvxGetOptionRomLayout(device->handle, 0, full);
    if (st != TVX_STATUS_OK) return st;
    // Never trust a count above the room given.
    uint32_t n = full->Count < count ? full->Count : count;
    try {
        layout.reserve(n);
    } catch (const std::bad_alloc &) {
        return TVX_ERR_NO_MEMORY;
    }
    for (uint32_t i = 0; i < n; ++i)
        layout.push_back({block[2 + 2 * i], block[3 + 2 * i]});
    return TVX_STATUS_OK;
}

// ---- Region request ---------------------------------------------------

int addUserOptionROMRequest(const char *regionWord, const char *fileName) {
    if (g_ptrOptionROMRequest == nullptr) {
        g_ptrOptionROMRequest = new (std::nothrow) OptionROMRequest{};
        if (g_ptrOptionROMRequest == nullptr) {
            OutputMessage("Memory allocation error!");
            return OPTROM_NO_MEMORY;
        }
    }
    const char *name = fileName != nullptr ? fileName : "";
    std::FILE *f = std::fopen(name, "rb");
    if (f == nullptr) {
        OutputMessage("Unable to open file %s!", name);
        return OPTROM_CANNOT_OPEN;
    }
    long len = -1;
    if (std::fseek(f, 0, SEEK_END) == 0) len = std::ftell(f);
    std::fclose(f);
    if (len < 0 || static_cast<unsigned long>(len) > 0xFFFFFFFFul) {
        OutputMessage("Unable to open file %s!", name);
        return OPTROM_CANNOT_WIND;
    }
    OptionROMRequest *req = g_ptrOptionROMRequest;
    req->FileSize = static_cast<uint32_t>(len);
    std::snprintf(req->FileName, sizeof(req->FileName), "%s", name);

    int result = OPTROM_OK;
    if (regionWord == nullptr) {
        req->Region = 0;
    } else if (EqualNoCase(regionWord, "all")) {
        req->Region = (req->FileSize == FILE_ALL_128K || req->FileSize == FILE_ALL_SMALL) ? 0 : TVX_OPT_ROM_REGION_ALL;
    } else if (EqualNoCase(regionWord, "fw")) {
        if (req->FileSize >= FILE_FW_MIN)
            req->Region = TVX_OPT_ROM_REGION_FW;
        else
            result = OPTROM_BAD_SIZE;
    } else if (EqualNoCase(regionWord, "boot")) {
        if (req->FileSize <= FILE_BOOT_MAX)
            req->Region = TVX_OPT_ROM_REGION_PHBIOS_PHFCODE_PHEFI;
        else
            result = OPTROM_BAD_SIZE;
    }
    OutputLevelMessage(LEVEL_DEBUG, "addUserOptionROMRequest: OptionROM request file=%s region=0x%x fsize=%d.",
                       req->FileName, req->Region, static_cast<int>(req->FileSize));
    return result;
}

void freeUserOptionROMReq() {
    OutputLevelMessage(LEVEL_DEBUG, "freeUserOptionROMReq: Freeing allocated memory...");
    delete g_ptrOptionROMRequest;
    g_ptrOptionROMRequest = nullptr;
}

// ---- Layout and reads ---------------------------------------------------

int GetOptionRomLayout(TVXDevice *device, std::vector<TVX_REGION_ENTRY> &layout, uint32_t *allSize) {
    if (allSize != nullptr) *allSize = 0;
    if (device == nullptr) return OPTROM_NO_ADAPTER;
    uint32_t st = QueryOptionRomLayout(device, layout);
    if (st == TVX_ERR_NO_MEMORY) {
        OutputLevelMessage(LEVEL_DEBUG, "ZMFGUpdateNVRAMFromFileToBrovHBAPort: Unable to allocate memory !");
        return OPTROM_ALLOC_FAILED;
    }
    if (st != TVX_STATUS_OK) {
        OutputMessage("Unable to get option rom flash layout of HBA instance %d!", static_cast<int>(device->instance));
        return OPTROM_READ_FAILED;
    }
    for (const auto &e : layout) {
        OutputLevelMessage(LEVEL_DEBUG, "GetOptionRomLayout: Region No=0x%02x Size=%d.", e.Region,
                           static_cast<int>(e.Size));
        if (e.Region == TVX_OPT_ROM_REGION_ALL) {
            if (allSize != nullptr) *allSize = e.Size;
            break;
        }
    }
    return OPTROM_OK;
}

int GetOptionROMRegionSize(TVXDevice *device, uint32_t region, uint32_t *size) {
    ProgramLock lock;
    if (device == nullptr) {
        OutputLevelMessage(LEVEL_DEBUG, "GetOptionROMRegionSize: HBA not found!");
        return OPTROM_NO_ADAPTER;
    }
    std::vector<TVX_REGION_ENTRY> layout;
    uint32_t st = QueryOptionRomLayout(device, layout);
    if (st == TVX_ERR_NO_MEMORY) return OPTROM_ALLOC_FAILED;
    if (st != TVX_STATUS_OK) {
        OutputLevelMessage(LEVEL_DEBUG, "GetOptionROMRegionSize: Unable to get Option ROM region layout 0x%x (%s)!", st,
                           LibraryErrorText(st).c_str());
        return OPTROM_LAYOUT_FAILED;
    }
    const TVX_REGION_ENTRY *entry = FindRegion(layout, region);
    if (entry == nullptr) {
        OutputLevelMessage(LEVEL_DEBUG, "GetOptionROMRegionSize: Did not find any valid region0x%x (%s)!", region,
                           LibraryErrorText(st).c_str());
        return OPTROM_NO_REGION;
    }
    // The bytes read only prove the region reads: nothing looks at them.
    ScratchBytes probe(entry->Size);
    if (!probe.ok()) return OPTROM_ALLOC_FAILED;
    st = ReadRegionWithRetry("GetOptionROMRegionSize", device, probe.span().data(), entry->Size, region);
    if (st != TVX_STATUS_OK) return OPTROM_READ_FAILED;
    if (size != nullptr) *size = entry->Size;
    return OPTROM_OK;
}

int GetOptionROMRegionData(TVXDevice *device, std::span<uint8_t> buffer, uint32_t region, uint32_t *size) {
    ProgramLock lock;
    if (device == nullptr) {
        OutputLevelMessage(LEVEL_DEBUG, "GetOptionROMRegionData: Adapter not found!");
        return OPTROM_NO_ADAPTER;
    }
    if (buffer.data() == nullptr) {
        OutputLevelMessage(LEVEL_DEBUG, "GetOptionROMRegionData: Invalid buffer!");
        return OPTROM_ALLOC_FAILED;
    }
    std::vector<TVX_REGION_ENTRY> layout;
    uint32_t st = QueryOptionRomLayout(device, layout);
    if (st == TVX_ERR_NO_MEMORY) return OPTROM_ALLOC_FAILED;
    if (st != TVX_STATUS_OK) {
        OutputLevelMessage(LEVEL_DEBUG, "GetOptionROMRegionData: Unable to get Option ROM region layout 0x%x (%s)!", st,
                           LibraryErrorText(st).c_str());
        return OPTROM_LAYOUT_FAILED;
    }
    if (layout.empty()) {
        OutputLevelMessage(LEVEL_DEBUG, "GetOptionROMRegionData: Did not find any valid region0x%x (%s)!", region,
                           LibraryErrorText(st).c_str());
        return OPTROM_NO_REGION;
    }
    const TVX_REGION_ENTRY *entry = FindRegion(layout, region);
    if (entry == nullptr) {
        OutputLevelMessage(LEVEL_DEBUG, "GetOptionROMRegionData: Unable to find matching region!");
        return OPTROM_READ_FAILED;
    }
    if (size != nullptr) *size = entry->Size;
    // The caller's buffer bounds the read.
    if (buffer.size() < entry->Size) {
        OutputLevelMessage(LEVEL_DEBUG, "GetOptionROMRegionData: Invalid buffer!");
        return OPTROM_ALLOC_FAILED;
    }
    st = ReadRegionWithRetry("GetOptionROMRegionData", device, buffer.data(), entry->Size, region);
    if (st != TVX_STATUS_OK) return OPTROM_READ_FAILED;
    return OPTROM_OK;
}

int getHBAOptionROMInfos(TVXDevice *device, std::span<uint8_t> buffer, uint32_t region) {
    if (device == nullptr) return OPTROM_NO_ADAPTER;
    std::vector<TVX_REGION_ENTRY> layout;
    uint32_t st = QueryOptionRomLayout(device, layout);
    if (st == TVX_ERR_NO_MEMORY) return OPTROM_NO_MEMORY;
    if (st != TVX_STATUS_OK) return OPTROM_LAYOUT_FAILED;
    if (layout.empty()) {
        OutputLevelMessage(LEVEL_DEBUG, "getHBAOptionROMInfos: No OptionROM Regions!");
        return OPTROM_NO_REGION;
    }
    const TVX_REGION_ENTRY *entry = FindRegion(layout, region);
    if (entry == nullptr) return OPTROM_OK;
    // A region larger than the buffer cannot be read into it.
    if (buffer.size() < entry->Size) return OPTROM_NO_REGION;
    st = ReadRegionWithRetry("getHBAOptionROMInfos", device, buffer.data(), entry->Size, region);
    if (st != TVX_STATUS_OK) return OPTROM_NO_REGION;
    return OPTROM_OK;
}

uint32_t ReadOptionRomAtOffset(TVXDevice *device, uint8_t *buffer, uint32_t size, uint32_t offset) {
    if (device == nullptr || buffer == nullptr) return TVX_ERR_INVALID_PARAMETER;
    return TvxGetOptionRomOffset(device->handle, 0, buffer, size, offset);
}

// ---- Writes -------------------------------------------------------------

uint32_t AppUpdateOptionRomEx2(TVXDevice *device, const uint8_t *buffer, uint32_t region, uint32_t size,
                               uint16_t options) {
    // A write of no bytes is never a region update.
    if (device == nullptr || buffer == nullptr || size == 0) return TVX_ERR_INVALID_PARAMETER;
    return WriteRegionWithRetry(device, buffer, region, size, options);
}

uint32_t AppUpdateOptionRomEx3(TVXDevice *device, const uint8_t *buffer, uint32_t region, uint32_t size,
                               uint16_t *options) {
    if (device == nullptr || options == nullptr || buffer == nullptr || size == 0) return TVX_ERR_INVALID_PARAMETER;
    uint32_t st = WriteRegionWithRetry(device, buffer, region, size, *options);
    if (st == TVX_RESULT_RESET_DISABLED) *options = 1;
    return st;
}
