#include "update/flashctr.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "app/output.h"
#include "inventory/cxrtype.h"
#include "update/installed_versions.h"

FlashCtrEntry *g_pFlashCtrList = nullptr;

namespace {

// A physical line is read in pieces of at most this many characters.
constexpr int kLinePiece = 254;
constexpr size_t kVersionTextMax = 11;
const char kDisplayDashes[] = "----------------------------------------------------------------------";

// Copies at most maxLen characters of src into dst (dst has maxLen + 1).
void CopyCut(char *dst, size_t maxLen, const std::string &src) {
    size_t n = src.size() < maxLen ? src.size() : maxLen;
    std::memcpy(dst, src.data(), n);
    dst[n] = '\0';
}

bool IsFieldSeparator(char c) { return c == ',' || c == '\t'; }
bool IsBlankOrTab(char c) { return c == ' ' || c == '\t'; }

// Whole-text comparison ignoring letter case; empty texts never match.
bool SameTextNoCase(const char *a, const char *b) {
    if (a == nullptr || b == nullptr || *a == '\0' || *b == '\0') return false;
    size_t la = std::strlen(a), lb = std::strlen(b);
    if (la != lb) return false;
    for (size_t i = 0; i < la; ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

// Version text of an adapter: a leading white-space character is skipped,
// and of the rest only letters, digits, white space and punctuation remain.
std::string CleanAdapterVersionText(const char *text, size_t maxLen) {
    std::string out;
    if (text == nullptr) return out;
    size_t len = strnlen(text, maxLen);
    size_t i = 0;
    if (len > 0 && std::isspace(static_cast<unsigned char>(text[0]))) i = 1;
    for (; i < len; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (std::isalnum(c) || std::isspace(c) || std::ispunct(c)) out.push_back(static_cast<char>(c));
    }
    return out;
}

uint32_t NvramValue(TVXDevice *device, uint32_t param) {
    uint32_t value = 0;
    TVX_STATUS st = TvxGetVariableValue(device->handle, device->nvram1, param, &value);
    if (st != TVX_STATUS_OK) {
        OutputLevelMessage(LEVEL_DEBUG, "BuildFlashCtrListFromHBA: TvxGetVariableValue(%u) failed (0x%x)", param, st);
        return 0;
    }
    return value;
}

} // namespace

void ConvertVersionText(const char *text, uint8_t *bytes, int count) {
    for (int i = 0; i < count; ++i)
        bytes[i] = 0;
    if (text == nullptr) return;
    size_t len = strnlen(text, kVersionTextMax);
    size_t pos = 0;
    for (int part = 0; part < count && pos <= len; ++part) {
        size_t end = pos;
        while (end < len && text[end] != '.')
            ++end;
        size_t d = pos;
        while (d < end && IsBlankOrTab(text[d]))
            ++d;
        uint64_t value = 0;
        for (; d < end && std::isdigit(static_cast<unsigned char>(text[d])); ++d)
            value = value * 10 + static_cast<uint64_t>(text[d] - '0');
        bytes[part] = static_cast<uint8_t>(value & 0xFF);
        pos = end + 1;
    }
}

int ParseFlashCtrLine(const char *line, FlashCtrEntry *entry) {
    if (line == nullptr || entry == nullptr) return 0;
    std::string text(line);
    // The line's end closes the last field.
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();

    size_t first = 0;
    while (first < text.size() && std::isspace(static_cast<unsigned char>(text[first])))
        ++first;
    if (first >= text.size() || text[first] == ';' || text[first] == '#') return 0;

    // Split at commas and tabs; runs of separators count as one.
    std::string fields[9];
    int nFields = 0;
    size_t pos = 0;
    while (nFields < 9) {
        while (pos < text.size() && IsFieldSeparator(text[pos]))
            ++pos;
        if (pos >= text.size()) break;
        size_t end = pos;
        while (end < text.size() && !IsFieldSeparator(text[end]))
            ++end;
        fields[nFields++] = text.substr(pos, end - pos);
        pos = end;
    }
    if (nFields == 0) return 0;

    CopyCut(entry->ssdid, sizeof(entry->ssdid) - 1, fields[0]);
    CopyCut(entry->ssvid, sizeof(entry->ssvid) - 1, fields[1]);
    CopyCut(entry->model, sizeof(entry->model) - 1, fields[2]);

    // Image file name: trailing, then leading blanks and tabs removed.
    std::string &image = fields[7];
    while (!image.empty() && IsBlankOrTab(image.back()))
        image.pop_back();
    size_t lead = 0;
    while (lead < image.size() && IsBlankOrTab(image[lead]))
        ++lead;
    CopyCut(entry->imageFile, sizeof(entry->imageFile) - 1, image.substr(lead));

    // Each line converts only its own version texts: a missing field is 0.
    ConvertVersionText(fields[3].c_str(), entry->biosVer, 2);
    ConvertVersionText(fields[4].c_str(), entry->efiVer, 2);
    ConvertVersionText(fields[5].c_str(), entry->fcodeVer, 2);
    ConvertVersionText(fields[6].c_str(), entry->fwVer, 3);
    ConvertVersionText(fields[8].c_str(), entry->mbiVer, 3);
    return 1;
}

int BuildFlashCtrListFromFile(const char *path) {
    OutputLevelMessage(LEVEL_DEBUG, "BuildFlashCtrListFromFile: Enter...");
    std::unique_ptr<FILE, int (*)(FILE *)> file(path != nullptr ? std::fopen(path, "r") : nullptr, &std::fclose);
    if (!file) {
        OutputMessage("Unable to open file %s!", path != nullptr ? path : "");
        return 4;
    }

    FlashCtrEntry *tail = g_pFlashCtrList;
    while (tail != nullptr && tail->next != nullptr)
        tail = tail->next;

    char piece[kLinePiece + 1];
    while (std::fgets(piece, sizeof(piece), file.get()) != nullptr) {
        FlashCtrEntry parsed{};
        if (ParseFlashCtrLine(piece, &parsed) == 0) continue;
        std::unique_ptr<FlashCtrEntry> entry(new (std::nothrow) FlashCtrEntry{});
        if (!entry) {
            CoreTrace(LEVEL_ERROR, "Memory allocation error!");
            return 10;
        }
        *entry = parsed;
        entry->next = nullptr;
        FlashCtrEntry *added = entry.release();
        if (tail == nullptr)
            g_pFlashCtrList = added;
        else
            tail->next = added;
        tail = added;
    }
    file.reset();
    PrintFlashCtrVersionList(g_pFlashCtrList);
    OutputLevelMessage(LEVEL_DEBUG, "BuildFlashCtrListFromFile: Exit");
    return 0;
}

void PrintFlashCtrVersionList(const FlashCtrEntry *head) {
    OutputLevelMessage(LEVEL_DEBUG, "PrintFlashCtrVersionList: Enter...");
    int n = 1;
    for (const FlashCtrEntry *e = head; e != nullptr; e = e->next, ++n) {
        CoreTrace(LEVEL_DEBUG, "%2d: %s %s %s %d.%02d %d.%02d %d.%02d %d.%02d.%02d %s %02d.%02d.%02d ", n, e->ssdid,
                  e->ssvid, e->model, e->biosVer[0], e->biosVer[1], e->efiVer[0], e->efiVer[1], e->fcodeVer[0],
                  e->fcodeVer[1], e->fwVer[0], e->fwVer[1], e->fwVer[2], e->imageFile, e->mbiVer[0], e->mbiVer[1],
                  e->mbiVer[2]);
    }
    OutputLevelMessage(LEVEL_DEBUG, "PrintFlashCtrVersionList: Exit");
}

void DeleteFlashCtrVersionList() {
    FlashCtrEntry *e = g_pFlashCtrList;
    while (e != nullptr) {
        FlashCtrEntry *next = e->next;
        delete e;
        e = next;
    }
    g_pFlashCtrList = nullptr;
}

FlashCtrEntry *GetVersionFromFlashCtrFile(const TVXDevice *device, FlashCtrEntry *out) {
    if (device == nullptr || out == nullptr) return nullptr;
    char ssdid[16];
    char ssvid[16];
    std::snprintf(ssdid, sizeof(ssdid), "0x%04x", device->chipProperty.SubsysDeviceId);
    std::snprintf(ssvid, sizeof(ssvid), "0x%04x", device->chipProperty.SubsysVendorId);
    for (const FlashCtrEntry *e = g_pFlashCtrList; e != nullptr; e = e->next) {
        if (SameTextNoCase(e->ssdid, ssdid) && SameTextNoCase(e->ssvid, ssvid)) {
            FlashCtrEntry *keepNext = out->next;
            *out = *e;
            out->next = keepNext;
            OutputLevelMessage(LEVEL_DEBUG, "GetVersionFromFlashCtrFile: Found matching entry in file!");
            break;
        }
    }
    return out;
}

FlashCtrEntry *BuildFlashCtrListFromHBA(TVXDevice *device, FlashCtrEntry *out) {
    if (device == nullptr || out == nullptr) return nullptr;
    const TVX_NODE_PROPERTY &node = device->nodeProperty;
    std::snprintf(out->ssdid, sizeof(out->ssdid), "0x%04x", NvramValue(device, TVX_NVRAM_PARAM_SSDID) & 0xFFFFu);
    std::snprintf(out->ssvid, sizeof(out->ssvid), "0x%04x", NvramValue(device, TVX_NVRAM_PARAM_SSVID) & 0xFFFFu);
    CopyCut(out->model, sizeof(out->model) - 1, std::string(node.Model, strnlen(node.Model, sizeof(node.Model))));

    int type = GetCxrType(device);
    std::string bios = CleanAdapterVersionText(node.OptRomVersion, sizeof(node.OptRomVersion));
    ConvertVersionText(bios.c_str(), out->biosVer, 2);
    char text[32];
    if (type < 8) {
        std::string fw = CleanAdapterVersionText(node.FirmwareVersion, sizeof(node.FirmwareVersion));
        ConvertVersionText(fw.c_str(), out->fwVer, 3);
        return out;
    }
    if ((node.FlashImageFlags & TVX_FLASH_IMAGE_EFI) != 0) {
        std::snprintf(text, sizeof(text), "%d.%02d", node.FlashEfiVersion[0], node.FlashEfiVersion[1]);
        ConvertVersionText(CleanAdapterVersionText(text, sizeof(text)).c_str(), out->efiVer, 2);
    }
    std::snprintf(text, sizeof(text), "%d.%02d", node.FlashFcodeVersion[0], node.FlashFcodeVersion[1]);
    ConvertVersionText(CleanAdapterVersionText(text, sizeof(text)).c_str(), out->fcodeVer, 2);
    if ((node.FlashImageFlags & TVX_FLASH_IMAGE_FW) != 0) {
        std::snprintf(text, sizeof(text), "%d.%02d.%02d", node.FlashFwVersion[0], node.FlashFwVersion[1],
                      node.FlashFwVersion[2]);
        ConvertVersionText(CleanAdapterVersionText(text, sizeof(text)).c_str(), out->fwVer, 3);
    }
    if (type >= 12) {
        InstalledImageVersions installed{};
        if (GetExistingCNAFlashImageVersions(device, &installed) == 0) {
            std::snprintf(text, sizeof(text), "%d.%02d.%02d", installed.mbi.ExistingMultibootVersionMajor,
                          installed.mbi.ExistingMultibootVersionMinor, installed.mbi.ExistingMultibootVersionSubMinor);
            ConvertVersionText(text, out->mbiVer, 3);
            CoreTrace(LEVEL_INFO, "BuildFlashCtrListFromHBA: MultibootVersion=%s", text);
        }
    }
    return out;
}

int DisplayHBAMBIVersion(TVXDevice *device) {
    if (device == nullptr) return 8;
    FlashCtrEntry versions{};
    BuildFlashCtrListFromHBA(device, &versions);
    char mbi[16];
    std::snprintf(mbi, sizeof(mbi), "%02d.%02d.%02d", versions.mbiVer[0], versions.mbiVer[1], versions.mbiVer[2]);
    OutputLevelMessage(
        LEVEL_DEBUG,
        "HBA DisplayHBAMBIVersion: HBA %d (%s) ssdid=%s ssvid=%s %d.%02d %d.%02d %d.%02d %d.%02d.%02d %s "
        "%02d.%02d.%02d",
        device->instance, versions.model, versions.ssdid, versions.ssvid, versions.biosVer[0], versions.biosVer[1],
        versions.efiVer[0], versions.efiVer[1], versions.fcodeVer[0], versions.fcodeVer[1], versions.fwVer[0],
        versions.fwVer[1], versions.fwVer[2], versions.imageFile, versions.mbiVer[0], versions.mbiVer[1],
        versions.mbiVer[2]);
    OutputLevelMessage(LEVEL_DEBUG, "DisplayHBAMBIVersion: HBA %d - %s MBI version=%s", device->instance,
                       versions.model, mbi);
    const uint8_t *p = device->portProperty.PortWWN;
    OutputMessage("%s", kDisplayDashes);
    OutputMessage("HBA Instance                   : %d", device->instance);
    OutputMessage(
        "HBA Model                      : %s",
        std::string(device->nodeProperty.Model, strnlen(device->nodeProperty.Model, sizeof(device->nodeProperty.Model)))
            .c_str());
    OutputMessage("Port Name                      : %02X-%02X-%02X-%02X-%02X-%02X-%02X-%02X", p[0], p[1], p[2], p[3],
                  p[4], p[5], p[6], p[7]);
    OutputMessage("Flash Image (MBI) Version      : %s", std::strcmp(mbi, "00.00.00") == 0 ? "N/A" : mbi);
    return 0;
}
