// Flash control file: which image file and versions belong to each adapter
// type, read into the flash control list; and the same record built from
// what an adapter's flash holds now.
#pragma once

#include <cstdint>

#include "inventory/tvxdevice.h"

struct FlashCtrEntry {
    char ssdid[10];      // subsystem device ID text, at most 9 characters
    char ssvid[10];      // subsystem vendor ID text, at most 9 characters
    char model[32];      // at most 31 characters; messages only
    uint8_t biosVer[2];  // major, minor
    uint8_t efiVer[2];   // major, minor
    uint8_t fcodeVer[2]; // major, minor
    uint8_t fwVer[3];    // major, minor, sub-minor
    uint8_t mbiVer[3];   // major, minor, sub-minor
    char imageFile[256]; // at most 255 characters
    FlashCtrEntry *next;
};

// Head of the flash control list (file order), freed by
// DeleteFlashCtrVersionList.
extern FlashCtrEntry *g_pFlashCtrList;

// Reads the control file into the list: 0 read, 4 can't open, 10 no memory.
int BuildFlashCtrListFromFile(const char *path);
// Copies the first entry matching the adapter's subsystem IDs into out and
// returns out; out unchanged when none matches; null without adapter.
FlashCtrEntry *GetVersionFromFlashCtrFile(const TVXDevice *device, FlashCtrEntry *out);
// Fills out from the versions in the adapter's flash; null without adapter.
FlashCtrEntry *BuildFlashCtrListFromHBA(TVXDevice *device, FlashCtrEntry *out);
// /q block of one HBA list record: the multi-boot image version in its
// flash; 0, 8 for no device.
int DisplayHBAMBIVersion(TVXDevice *device);
// Debug trace of a list.
void PrintFlashCtrVersionList(const FlashCtrEntry *head);
// Frees every entry of the flash control list.
void DeleteFlashCtrVersionList();

// Parses one control-file line into entry (zero-filled by the caller).
// Returns 1 when the line gives an entry, 0 for comments and empty lines.
int ParseFlashCtrLine(const char *line, FlashCtrEntry *entry);
// Converts a version text (cut to 11 characters, parts split at '.') into
// count bytes; missing parts give 0.
void ConvertVersionText(const char *text, uint8_t *bytes, int count);
