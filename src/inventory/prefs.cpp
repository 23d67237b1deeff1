#include "inventory/prefs.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/output.h"
#include "app/settings.h"
#include "inventory/invutil.h"
#include "inventory/tvxdevice.h"

int g_iPollingInterval = 30;
int g_iFabricScanning = 0;
int g_iSecuredFlashUpdate = 0;

namespace {

constexpr const char *kPreferencesFileName = "agent.properties";
constexpr const char *kPollingKey = "node.agent.polling.interval";
constexpr const char *kFabricKey = "node.agent.fabric.scanning.enable";
constexpr const char *kQuietKey = "node.agent.quiet.mode.enable";
constexpr const char *kSecuredKey = "node.agent.secured.flash.update.ovremote.enable";
constexpr const char *kBeaconKeyPrefix = "node.agent.target.beacon.";

// The one line buffer the looked-up value lives in.
char g_prefLine[512];

// Leading base-10 digits of a value text; 0 for no number, clamped to int.
int ValueToInt(const char *text) {
    if (text == nullptr) return 0;
    errno = 0;
    char *end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (end == text) return 0;
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<int>(v);
}

// Looks key up in a freshly opened file; *found tells whether it has a value.
int LookupInt(FILE *file, const char *key, bool *found) {
    const char *value = PrefGetProperty(file, key);
    *found = value != nullptr;
    return ValueToInt(value);
}

} // namespace

const char *PrefGetProperty(FILE *file, const char *key) {
    if (file != nullptr && key != nullptr) {
        std::rewind(file);
        while (std::fgets(g_prefLine, sizeof g_prefLine, file) != nullptr) {
            // Pieces between '=' and line-end characters; runs count as one.
            char *cursor = g_prefLine;
            char *piece = NextPiece(&cursor, "=\r\n");
            while (piece != nullptr) {
                if (std::strcmp(piece, key) == 0) return NextPiece(&cursor, "=\r\n");
                piece = NextPiece(&cursor, "=\r\n");
            }
        }
    }
    CoreTrace(LEVEL_ERROR, "PrefGetProperty: Failed to read preference file.");
    return nullptr;
}

FILE *PrefOpenPreferenceFile() {
    FILE *file = std::fopen(g_configurationFileName, "r+");
    if (file == nullptr)
        CoreTrace(LEVEL_WARNING, "PrefOpenPreferenceFile: Failed to open preference file (%s).",
                  g_configurationFileName);
    return file;
}

int CoreGetPollingInterval() {
    FILE *file = PrefOpenPreferenceFile();
    if (file == nullptr) return -1;
    g_iPollingInterval = 30;
    bool found = false;
    int v = LookupInt(file, kPollingKey, &found);
    if (found && v > 0) g_iPollingInterval = v;
    std::fclose(file);
    return 0;
}

int CoreGetFabricScanningConfig() {
    FILE *file = PrefOpenPreferenceFile();
    if (file == nullptr) return -1;
    bool found = false;
    int v = LookupInt(file, kFabricKey, &found);
    if (!found)
        g_iFabricScanning = 0;
    else if (v == 0 || v == 1)
        g_iFabricScanning = v;
    std::fclose(file);
    return 0;
}

int CoreGetQuietModeConfig() {
    FILE *file = PrefOpenPreferenceFile();
    if (file == nullptr) return -1;
    bool found = false;
    int v = LookupInt(file, kQuietKey, &found);
    if (!found)
        g_bSilent = 0;
    else if (v == 0 || v == 1)
        g_bSilent = v;
    std::fclose(file);
    return 0;
}

int CoreGetFlashUpdateConfig() {
    FILE *file = PrefOpenPreferenceFile();
    if (file == nullptr) return -1;
    g_iSecuredFlashUpdate = 0;
    bool found = false;
    int v = LookupInt(file, kSecuredKey, &found);
    if (found) {
        INV_DEBUG("CoreGetFlashUpdateConfig: nSecuredEnable = %d", v);
        if (v == 0 || v == 1) g_iSecuredFlashUpdate = v;
    }
    std::fclose(file);
    return 0;
}

int PrefGetIntProperty(const char *key, int *value) {
    FILE *file = PrefOpenPreferenceFile();
    if (file == nullptr) return -1;
    bool found = false;
    int v = LookupInt(file, key, &found);
    if (value != nullptr) *value = found ? v : 0;
    std::fclose(file);
    return 0;
}

void FormatTargetBeaconKey(char *key, size_t size, uint32_t instance, const uint8_t portWWN[8]) {
    if (key == nullptr || size == 0) return;
    std::snprintf(key, size, "%s%d.%02x%02x%02x%02x%02x%02x%02x%02x", kBeaconKeyPrefix, static_cast<int>(instance),
                  WWN_ARGS(portWWN));
}

int PrefGetTargetBeacon(uint32_t instance, const uint8_t portWWN[8], uint32_t *value) {
    char key[80];
    FormatTargetBeaconKey(key, sizeof key, instance, portWWN);
    int v = 0;
    int status = PrefGetIntProperty(key, &v);
    if (value != nullptr) *value = status == 0 ? static_cast<uint32_t>(v) : 0;
    return status;
}

int CoreInitialize() {
    // Explicit cut at 259 characters + NUL.
    std::string name = std::string(g_szConfigPath) + kPreferencesFileName;
    CopyText(g_configurationFileName, sizeof g_configurationFileName, name.c_str());
    INV_DEBUG("CoreInitialize: g_configurationFileName is '%s' \n", g_configurationFileName);
    CoreGetPollingInterval();
    CoreGetFabricScanningConfig();
    CoreGetQuietModeConfig();
    CoreGetFlashUpdateConfig();
    g_DeviceList = TVXDeviceList{};
    return 0;
}

void *CoreMalloc(size_t size) {
    if (size == 0) {
        CoreTrace(LEVEL_WARNING, "CoreMalloc: Attempted to allocate ZERO bytes - returning NULL...");
        return nullptr;
    }
    return std::calloc(1, size);
}

void CoreFree(void *block) {
    if (block == nullptr) {
        CoreTrace(LEVEL_WARNING, "CoreFree: Attempted to free NULL pointer...");
        return;
    }
    std::free(block);
}
