#include "inventory/prefs.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <unordered_map>

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

// The preferences file as read once: whether it opened, and for every
// piece of its lines the value the lookup gives for it as a key (the piece
// after its first appearance, none when it ends its line). The readers use
// it instead of reading the file again for every key.
struct Snapshot {
    bool loaded = false;
    std::string name;
    bool opened = false;
    std::unordered_map<std::string, std::optional<std::string>> values;
};
Snapshot g_snapshot;

void LoadSnapshot() {
    g_snapshot = Snapshot{};
    g_snapshot.loaded = true;
    g_snapshot.name = g_configurationFileName;
    FILE *file = PrefOpenPreferenceFile();
    if (file == nullptr) return;
    g_snapshot.opened = true;
    // Lines as the lookup reads them: the same buffer size, the same pieces.
    while (std::fgets(g_prefLine, sizeof g_prefLine, file) != nullptr) {
        char *cursor = g_prefLine;
        char *piece = NextPiece(&cursor, "=\r\n");
        while (piece != nullptr) {
            char *next = NextPiece(&cursor, "=\r\n");
            auto value = next != nullptr ? std::optional<std::string>(next) : std::nullopt;
            g_snapshot.values.try_emplace(piece, std::move(value));
            piece = next;
        }
    }
    std::fclose(file);
}

// The snapshot of the file named now; read when there is none yet or the
// name changed.
const Snapshot &Preferences() {
    if (!g_snapshot.loaded || g_snapshot.name != g_configurationFileName) LoadSnapshot();
    return g_snapshot;
}

// Looks key up in the snapshot; *found tells whether it has a value.
int LookupInt(const Snapshot &prefs, const char *key, bool *found) {
    auto it = prefs.values.find(key);
    *found = it != prefs.values.end() && it->second.has_value();
    return *found ? ValueToInt(it->second->c_str()) : 0;
}

} // namespace

void PrefReadPreferenceFile() { LoadSnapshot(); }

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
    const Snapshot &prefs = Preferences();
    if (!prefs.opened) return -1;
    g_iPollingInterval = 30;
    bool found = false;
    int v = LookupInt(prefs, kPollingKey, &found);
    if (found && v > 0) g_iPollingInterval = v;
    return 0;
}

int CoreGetFabricScanningConfig() {
    const Snapshot &prefs = Preferences();
    if (!prefs.opened) return -1;
    bool found = false;
    int v = LookupInt(prefs, kFabricKey, &found);
    if (!found)
        g_iFabricScanning = 0;
    else if (v == 0 || v == 1)
        g_iFabricScanning = v;
    return 0;
}

int CoreGetQuietModeConfig() {
    const Snapshot &prefs = Preferences();
    if (!prefs.opened) return -1;
    bool found = false;
    int v = LookupInt(prefs, kQuietKey, &found);
    if (!found)
        g_bSilent = 0;
    else if (v == 0 || v == 1)
        g_bSilent = v;
    return 0;
}

int CoreGetFlashUpdateConfig() {
    const Snapshot &prefs = Preferences();
    if (!prefs.opened) return -1;
    g_iSecuredFlashUpdate = 0;
    bool found = false;
    int v = LookupInt(prefs, kSecuredKey, &found);
    if (found) {
        INV_DEBUG("CoreGetFlashUpdateConfig: nSecuredEnable = %d", v);
        if (v == 0 || v == 1) g_iSecuredFlashUpdate = v;
    }
    return 0;
}

int PrefGetIntProperty(const char *key, int *value) {
    const Snapshot &prefs = Preferences();
    if (!prefs.opened) return -1;
    bool found = false;
    int v = LookupInt(prefs, key, &found);
    if (value != nullptr) *value = found ? v : 0;
    return 0;
}

void FormatTargetBeaconKey(char *key, size_t size, uint32_t instance, const uint8_t portWWN[8]) {
    if (key == nullptr || size == 0) return;
    // Formed without printf, once per target: the prefix, the instance as a
    // signed decimal, '.', the WWN's 16 lower-case hex digits.
    char text[64];
    size_t n = std::strlen(kBeaconKeyPrefix);
    std::memcpy(text, kBeaconKeyPrefix, n);
    n = static_cast<size_t>(std::to_chars(text + n, text + 40, static_cast<int>(instance)).ptr - text);
    text[n++] = '.';
    WwnHexText(portWWN, text + n);
    CopyText(key, size, text);
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
    // Read once here; the readers below and target discovery use what was read.
    PrefReadPreferenceFile();
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
