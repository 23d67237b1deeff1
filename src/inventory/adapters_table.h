// Supported-adapter table ("adapters.properties", plain or Blowfish-ECB
// enciphered) keyed by subsystem device ID and subsystem vendor ID.
#pragma once

#include <cstddef>
#include <cstdint>

#include "inventory/tvxdevice.h"

constexpr const char *ADAPTERS_FILE_NAME = "adapters.properties";
// Key of the enciphered form (34 ASCII bytes, no NUL used).
extern const char g_szAdapterTableKey[];
constexpr int ADAPTER_TABLE_KEY_LENGTH = 34;

struct SubSystemEntry {
    char subsysDeviceId[20]; // "0x%04X" text, column 1
    char subsysVendorId[20]; // column 2
    char cxrText[10];        // chip text, last four characters the chip number
    char description[128];
    char supported[10]; // supported when it contains "TRUE"
    char flag6[10];     // "FALSE" when absent
    char flag7[10];     // "FALSE" when absent
    SubSystemEntry *next;
};

// Enciphered form; null when the file cannot be read or its first line
// does not decipher into a valid row.
SubSystemEntry *BuildSubSystemListFromEncryptedFile(const char *path, const char *key, int keyLength);
// Plain form; null when the file cannot be opened or read.
SubSystemEntry *BuildSubSystemListFromFile(const char *path);
// Splits one deciphered line (size bytes at most) into entry: 1, or 0 when
// fewer than six columns stand in it.
int PopulateSubSystemData(SubSystemEntry *entry, const char *line, size_t size);
// First row whose columns 1 and 2 equal "0x%04X" of the IDs; null when none.
SubSystemEntry *FindSubSystemInSubSystemList(SubSystemEntry *list, uint16_t subsysDeviceId, uint16_t subsysVendorId);
void PrintSubSystemList(const SubSystemEntry *list);
// Releases every entry of the list.
void FreeSubSystemList(SubSystemEntry *list);

// The reading discovery uses: enciphered form of dir + name first, then the
// plain form. withSeparator puts a path separator between dir and name for
// the plain reading. Null when neither yields a list.
SubSystemEntry *ReadSupportedAdapterTable(const char *dir, bool withSeparator);

// 1 when the adapter entry of device has enableStatus set (its chip type is
// stored in *chipType), else 0.
int isAdapterSupported(const TVXDevice *device, uint16_t *chipType);
