#include "multiregion/capabilities.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/output.h"
#include "update/flashregion.h"

namespace {

constexpr uint32_t kVersionTextSize = 127;

// Fields of a text split at any of the separators; empty fields dropped.
std::vector<std::string> Split(const std::string &text, const char *separators) {
    std::vector<std::string> out;
    std::string cur;
    for (char c : text) {
        if (std::strchr(separators, c) != nullptr) {
            if (!cur.empty()) out.push_back(cur);
            cur.clear();
        } else {
            cur.push_back(c);
        }
    }
    if (!cur.empty()) out.push_back(cur);
    return out;
}

// Leading decimal number of a field; -1 when it starts with none.
long LeadingNumber(const std::string &field) {
    if (field.empty() || !std::isdigit(static_cast<unsigned char>(field[0]))) return -1;
    long v = 0;
    for (char c : field) {
        if (!std::isdigit(static_cast<unsigned char>(c))) break;
        if (v < 100000) v = v * 10 + (c - '0');
    }
    return v;
}

bool SameNoCase(const char *a, const char *b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b)
        if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b))) return false;
    return *a == *b;
}

} // namespace

int CheckFlashUpdateCapabilities(TVXDevice *device, uint32_t *capability) {
    uint32_t caps = 0;
    if (capability != nullptr) *capability = 0;
    if (device == nullptr) return ONLINE_CAPS_UNSUPPORTED;
    const uint32_t st = TvxGetFlashUpdateCapabilities(device->handle, 0, &caps);
    if (st != TVX_STATUS_OK) {
        OutputLevelMessage(LEVEL_DEBUG, "CheckFlashUpdateCapabilities: TvxGetFlashUpdateCapabilities (0x%x - %s)", st,
                           LibraryErrorText(st).c_str());
        return ONLINE_CAPS_UNSUPPORTED;
    }
    if (capability != nullptr) *capability = caps;
    OutputLevelMessage(LEVEL_DEBUG, "CheckFlashUpdateCapabilities: capability=%u", caps);
    return caps == 2 || caps == 4 || caps == 8 ? 0 : ONLINE_CAPS_UNSUPPORTED;
}

bool ParseLibraryVersion(const char *text, LibraryVersion &out) {
    out = LibraryVersion{};
    if (text == nullptr) return false;
    // Fields as they stand between the dots: "1.28..122" has an empty third.
    std::vector<std::string> fields(1);
    for (const char *p = text; *p != '\0'; ++p) {
        if (*p == '.')
            fields.emplace_back();
        else
            fields.back().push_back(*p);
    }
    const long major = LeadingNumber(fields[0]);
    const long minor = fields.size() > 1 ? LeadingNumber(fields[1]) : -1;
    if (major < 0 || minor < 0) return false;
    out.major = static_cast<int>(major);
    out.minor = static_cast<int>(minor);
    const long build = fields.size() > 3 ? LeadingNumber(fields[3]) : -1;
    out.build = build < 0 ? 0 : static_cast<int>(build);
    return true;
}

int IsOnlineActivationVersion(const LibraryVersion &v) {
    if (v.major >= 2) return 1;
    if (v.major == 1 && v.minor > 28) return 1;
    if (v.major == 1 && v.minor == 28 && v.build >= 122) return 1;
    return 0;
}

int CoreIsOnlineFlashUpdateSupportedTVXAPI() {
    char text[kVersionTextSize + 1] = {};
    const uint32_t st = TvxGetVersion(text, kVersionTextSize);
    text[kVersionTextSize] = '\0';
    if (st != TVX_STATUS_OK) {
        OutputLevelMessage(LEVEL_DEBUG, "CoreIsOnlineFlashUpdateSupportedTVXAPI: TvxGetVersion (0x%x - %s)", st,
                           LibraryErrorText(st).c_str());
        return 0;
    }
    LibraryVersion v;
    const bool parsed = ParseLibraryVersion(text, v);
    if (parsed && IsOnlineActivationVersion(v) == 1) return 1;
    OutputLevelMessage(LEVEL_DEBUG,
                       "SecuredFlashUpdateEndProcess: TvxOnlineActivateFlashUpdate TVXAPI not supported! versionMajor "
                       "= %d versionMinor = %d  versionBuild = %d \n",
                       v.major, v.minor, v.build);
    return 0;
}

int isWindowsServerFECImplDriverVersion(const char *driverVersion) {
    if (driverVersion == nullptr) return 0;
    for (const char *known : {"9.1.11.24", "9.1.11.27", "9.1.11.28"})
        if (SameNoCase(driverVersion, known)) return 1;
    const std::vector<std::string> fields = Split(driverVersion, "., \t");
    if (fields.empty()) return 0;
    static const long kLead[] = {9, 1, 11};
    for (size_t i = 0; i < fields.size() && i < 4; ++i) {
        const long v = LeadingNumber(fields[i]);
        if (i < 3) {
            if (v != kLead[i]) return 0;
        } else if (v != 24 && v != 27 && v != 28) {
            return 0;
        }
    }
    return 1;
}

bool ChooseFenwarOnlineUpdate(TVXDevice *device) {
    const int api = CoreIsOnlineFlashUpdateSupportedTVXAPI();
    uint32_t caps = 0;
    const int check = CheckFlashUpdateCapabilities(device, &caps);
    const bool online = api == 1 && check == 0 && caps != 0;
    OutputLevelMessage(LEVEL_DEBUG, "ChooseFenwarOnlineUpdate: api=%d capabilityCheck=%d capability=%u -> %s", api,
                       check, caps, online ? "online" : "offline");
    return online;
}
