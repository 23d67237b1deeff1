// Preferences file (agent.properties) and core start-up; the allocation
// convention shared by the inventory code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Run-wide settings read from the preferences file. Quiet mode is g_bSilent
// (app/settings.h), which the quiet-mode reader replaces.
extern int g_iPollingInterval;    // default 30, values above 0
extern int g_iFabricScanning;     // 0 or 1
extern int g_iSecuredFlashUpdate; // 0 or 1

// Forms g_configurationFileName (configuration directory + "agent.properties"),
// reads the file, sets polling interval, fabric scanning, quiet mode and
// secured flash update from it, and empties the device list header. Returns 0.
int CoreInitialize();

// Looks key up in the open preferences file. Returns the value text or null.
// The text lives in one shared line buffer, valid until the next lookup.
const char *PrefGetProperty(FILE *file, const char *key);

// Opens the preferences file for reading and writing; null on failure
// (logged "PrefOpenPreferenceFile: ...").
FILE *PrefOpenPreferenceFile();

// Reads the preferences file (g_configurationFileName) now. The setting
// readers and the beacon lookups below use what was read last, and read the
// file themselves only when none was read yet or its name changed since.
// CoreInitialize calls it, so a run reads the file once.
void PrefReadPreferenceFile();

// Setting readers: 0 on success, -1 when the file could not be opened.
int CoreGetPollingInterval();
int CoreGetFabricScanningConfig();
int CoreGetQuietModeConfig();
int CoreGetFlashUpdateConfig();

// Generic integer reader: 0 with the value (0 when the key is absent),
// -1 when the file cannot be opened.
int PrefGetIntProperty(const char *key, int *value);

// Preference key of a target's persisted beacon:
// "node.agent.target.beacon.<instance>.<16 lower-case hex digits of the WWPN>".
void FormatTargetBeaconKey(char *key, size_t size, uint32_t instance, const uint8_t portWWN[8]);
// Reads the beacon value of one target: 0 with the value (0 when absent),
// -1 when the preferences file cannot be opened.
int PrefGetTargetBeacon(uint32_t instance, const uint8_t portWWN[8], uint32_t *value);

// Zero-filled allocation; null for a size of 0 (traced) or on failure.
void *CoreMalloc(size_t size);
// Releases a block from CoreMalloc; a null pointer is traced and ignored.
void CoreFree(void *block);
