#include "inventory/adapters_table.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/output.h"
#include "inventory/blowfish.h"
#include "inventory/invutil.h"
#include "inventory/prefs.h"
#include "oss/oss.h"

const char g_szAdapterTableKey[] = "Tovask27LockKey=hbasupport.records";
static_assert(sizeof g_szAdapterTableKey == ADAPTER_TABLE_KEY_LENGTH + 1);

namespace {

constexpr size_t kLineBufferSize = 2048; // lines of up to 2047 characters
constexpr size_t kCommaWindow = 255;     // commas counted within this many characters

// Splits a line (NUL-terminated, modified in place) at commas into at most
// 7 columns; a run of commas is one separator. Returns the column count.
int SplitColumns(char *line, char *columns[7]) {
    int n = 0;
    char *cursor = line;
    char *piece = nullptr;
    while (n < 7 && (piece = NextPiece(&cursor, ",")) != nullptr)
        columns[n++] = piece;
    return n;
}

// Fills entry from the split columns (count of them given); missing 6 and 7
// read "FALSE".
void FillEntry(SubSystemEntry *entry, char *columns[7], int count) {
    CopyText(entry->subsysDeviceId, sizeof entry->subsysDeviceId, columns[0]);
    CopyText(entry->subsysVendorId, sizeof entry->subsysVendorId, columns[1]);
    CopyText(entry->cxrText, sizeof entry->cxrText, columns[2]);
    CopyText(entry->description, sizeof entry->description, columns[3]);
    CopyText(entry->supported, sizeof entry->supported, columns[4]);
    CopyText(entry->flag6, sizeof entry->flag6, count > 5 ? columns[5] : "FALSE");
    CopyText(entry->flag7, sizeof entry->flag7, count > 6 ? columns[6] : "FALSE");
}

// Number of commas before the line end within the first 255 characters.
int CountLeadingCommas(const char *line) {
    int commas = 0;
    for (size_t i = 0; i < kCommaWindow && line[i] != '\0' && line[i] != '\n' && line[i] != '\r'; ++i)
        if (line[i] == ',') ++commas;
    return commas;
}

// A deciphered line is text: control bytes other than tab and the line end
// mean the bytes were never enciphered with this key (a plain file).
bool IsTextLine(const char *line) {
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(line); *p != '\0'; ++p)
        if (*p < 0x20 && *p != '\t' && *p != '\r' && *p != '\n') return false;
    return true;
}

struct ListBuilder {
    SubSystemEntry *first = nullptr;
    SubSystemEntry *last = nullptr;
    void Append(SubSystemEntry *entry) {
        entry->next = nullptr;
        if (last == nullptr)
            first = entry;
        else
            last->next = entry;
        last = entry;
    }
};

std::string JoinPath(const char *dir, bool withSeparator) {
    std::string path = dir != nullptr ? dir : "";
    if (withSeparator) path += OSS_PATH_SEPARATOR;
    path += ADAPTERS_FILE_NAME;
    return path;
}

} // namespace

int PopulateSubSystemData(SubSystemEntry *entry, const char *line, size_t size) {
    if (entry == nullptr || line == nullptr) return 0;
    // Work on a bounded copy: the line need not be NUL-terminated within size.
    size_t n = BoundedLength(line, size < kLineBufferSize ? size : kLineBufferSize - 1);
    char copy[kLineBufferSize];
    std::memcpy(copy, line, n);
    copy[n] = '\0';
    char *columns[7] = {};
    int count = IsTextLine(copy) ? SplitColumns(copy, columns) : 0;
    if (count < 6) {
        INV_DEBUG("PopulateSubSystemData: Failed to build adapter subsystem entry!");
        return 0;
    }
    FillEntry(entry, columns, count);
    return 1;
}

SubSystemEntry *BuildSubSystemListFromEncryptedFile(const char *path, const char *key, int keyLength) {
    if (path == nullptr || key == nullptr || keyLength <= 0 || keyLength > 72) return nullptr;
    FILE *file = std::fopen(path, "rb");
    if (file == nullptr) {
        INV_DEBUG("BuildSubSystemListFromEncryptedFile: Cannot open the adapter properties file %s !", path);
        return nullptr;
    }
    long length = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) length = std::ftell(file);
    if (length < 0) {
        INV_DEBUG("BuildSubSystemListFromEncryptedFile: Unable to seek end of file %s !", path);
        std::fclose(file);
        return nullptr;
    }
    size_t n = static_cast<size_t>(length);
    size_t m = (n + 7) / 8 * 8;
    std::vector<uint8_t> cipher;
    std::vector<uint8_t> plain;
    if (m > 0) {
        try {
            cipher.assign(m, 0);
            plain.assign(m + 1, 0); // one NUL beyond the deciphered bytes
        } catch (...) {
            INV_DEBUG("BuildSubSystemListFromEncryptedFile: Unable to allocate %d for encrypted buffer!",
                      static_cast<int>(m));
            std::fclose(file);
            return nullptr;
        }
    }
    std::rewind(file);
    if (n > 0 && std::fread(cipher.data(), 1, n, file) != n) {
        OutputLevelMessage(LEVEL_ERROR, "BuildSubSystemListFromEncryptedFile: Failed to read the %s file!", path);
        std::fclose(file);
        return nullptr;
    }
    std::fclose(file);
    if (m == 0) return nullptr;

    BlowfishContext ctx;
    BlowfishInit(&ctx, reinterpret_cast<const uint8_t *>(key), static_cast<size_t>(keyLength));
    BlowfishDecryptEcb(&ctx, cipher.data(), plain.data(), m);

    // The deciphered text stays in memory and is cut into lines the way a
    // line reader would: at each line end, or after 2047 characters.
    ListBuilder list;
    int taken = 0;
    size_t pos = 0;
    char line[kLineBufferSize];
    while (pos < m) {
        size_t len = 0;
        while (pos + len < m && len < kLineBufferSize - 1) {
            ++len;
            if (plain[pos + len - 1] == '\n') break;
        }
        std::memcpy(line, plain.data() + pos, len);
        line[len] = '\0';
        pos += len;
        auto *entry = static_cast<SubSystemEntry *>(CoreMalloc(sizeof(SubSystemEntry)));
        if (entry == nullptr) break;
        if (PopulateSubSystemData(entry, line, len + 1) == 0) {
            CoreFree(entry);
            INV_DEBUG("BuildSubSystemListFromEncryptedFile: Error encountered when reading buffer!");
            if (taken == 0) {
                FreeSubSystemList(list.first);
                return nullptr;
            }
            continue;
        }
        list.Append(entry);
        ++taken;
    }
    return list.first;
}

SubSystemEntry *BuildSubSystemListFromFile(const char *path) {
    if (path == nullptr) return nullptr;
    FILE *file = std::fopen(path, "r");
    if (file == nullptr) {
        INV_DEBUG("BuildSubSystemListFromFile: Cannot open the adapter properties file %s !", path);
        return nullptr;
    }
    char block[256];
    while (std::fread(block, 1, sizeof block, file) == sizeof block) {
    }
    if (std::ferror(file)) {
        OutputLevelMessage(LEVEL_ERROR, "BuildSubSystemListFromFile: Failed to read the %s file!", path);
        std::fclose(file);
        return nullptr;
    }
    std::rewind(file);

    ListBuilder list;
    char line[kLineBufferSize];
    int lineNo = 0;
    while (std::fgets(line, sizeof line, file) != nullptr) {
        ++lineNo;
        if (CountLeadingCommas(line) <= 3) continue;
        char *columns[7] = {};
        int count = SplitColumns(line, columns);
        if (count < 5) {
            INV_DEBUG("BuildSubSystemListFromFile: Failed to build adapter subsystem list from file %s line %d!", path,
                      lineNo);
            continue;
        }
        auto *entry = static_cast<SubSystemEntry *>(CoreMalloc(sizeof(SubSystemEntry)));
        if (entry == nullptr) break;
        FillEntry(entry, columns, count);
        list.Append(entry);
    }
    std::fclose(file);
    return list.first;
}

SubSystemEntry *FindSubSystemInSubSystemList(SubSystemEntry *list, uint16_t subsysDeviceId, uint16_t subsysVendorId) {
    char device[16];
    char vendor[16];
    std::snprintf(device, sizeof device, "0x%04X", subsysDeviceId);
    std::snprintf(vendor, sizeof vendor, "0x%04X", subsysVendorId);
    for (SubSystemEntry *e = list; e != nullptr; e = e->next) {
        if (std::strcmp(e->subsysDeviceId, device) == 0 && std::strcmp(e->subsysVendorId, vendor) == 0) {
            INV_DEBUG("FindSubSystemInSubSystemList: Found SSVID: %s SSDID %s.", e->subsysVendorId, e->subsysDeviceId);
            return e;
        }
    }
    return nullptr;
}

void PrintSubSystemList(const SubSystemEntry *list) {
    int index = 0;
    for (const SubSystemEntry *e = list; e != nullptr; e = e->next, ++index)
        INV_DEBUG("\nEntry %d: %s %s %s %s %s %s", index, e->subsysDeviceId, e->subsysVendorId, e->cxrText,
                  e->description, e->supported, e->flag6);
}

void FreeSubSystemList(SubSystemEntry *list) {
    while (list != nullptr) {
        SubSystemEntry *next = list->next;
        CoreFree(list);
        list = next;
    }
}

SubSystemEntry *ReadSupportedAdapterTable(const char *dir, bool withSeparator) {
    std::string enciphered = JoinPath(dir, false);
    SubSystemEntry *list =
        BuildSubSystemListFromEncryptedFile(enciphered.c_str(), g_szAdapterTableKey, ADAPTER_TABLE_KEY_LENGTH);
    if (list != nullptr) return list;
    std::string plain = JoinPath(dir, withSeparator);
    return BuildSubSystemListFromFile(plain.c_str());
}

int isAdapterSupported(const TVXDevice *device, uint16_t *chipType) {
    if (device == nullptr) return 0;
    const uint8_t *wwpn = device->portProperty.PortWWN;
    INV_DEBUG("isAdapterSupported: HBA %.32s WWPN " WWN_FMT_UC, device->nodeProperty.Model, WWN_ARGS(wwpn));
    AdapterEntry *entry = FindAdapterEntryForDevice(device);
    if (entry == nullptr) return 0;
    if (chipType != nullptr) *chipType = entry->chipType;
    INV_DEBUG("isAdapterSupported: " WWN_FMT_UC " SP=%d EnableStatus=%d", WWN_ARGS(wwpn),
              static_cast<int>(entry->physicalPort), static_cast<int>(entry->enableStatus));
    return entry->enableStatus != 0 ? 1 : 0;
}
