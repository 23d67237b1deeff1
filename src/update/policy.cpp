#include "update/policy.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/output.h"
#include "app/settings.h"
#include "inventory/cxrtype.h"

namespace {

enum class Condition { Lower, LowerOrEqual, Differs };

// Byte-wise comparison of two texts as unsigned values: sign of a - b.
int CompareText(const char *a, const char *b) {
    const unsigned char *x = reinterpret_cast<const unsigned char *>(a);
    const unsigned char *y = reinterpret_cast<const unsigned char *>(b);
    while (*x != 0 && *x == *y) {
        ++x;
        ++y;
    }
    return (*x > *y) - (*x < *y);
}

bool Meets(Condition cond, const char *adapter, const char *file) {
    int c = CompareText(adapter, file);
    switch (cond) {
    case Condition::Lower: return c < 0;
    case Condition::LowerOrEqual: return c <= 0;
    case Condition::Differs: return c != 0;
    }
    return false;
}

std::string TwoPart(const uint8_t v[2]) {
    char t[16];
    std::snprintf(t, sizeof(t), "%d.%02d", v[0], v[1]);
    return t;
}

std::string FwText(const uint8_t v[3]) {
    char t[16];
    std::snprintf(t, sizeof(t), "%d.%02d.%02d", v[0], v[1], v[2]);
    return t;
}

std::string MbiText(const uint8_t v[3]) {
    char t[16];
    std::snprintf(t, sizeof(t), "%02d%02d%02d", v[0], v[1], v[2]);
    return t;
}

int TestMultiboot(Condition cond, const TVXDevice *device, const FlashCtrEntry *adapter, const FlashCtrEntry *file) {
    std::string fileText = MbiText(file->mbiVer);
    std::string adapterText = MbiText(adapter->mbiVer);
    int instance = device != nullptr ? static_cast<int>(device->instance) : -1;
    const char *model = device != nullptr ? device->nodeProperty.Model : "";
    int model_len = device != nullptr ? static_cast<int>(strnlen(model, sizeof(device->nodeProperty.Model))) : 0;
    OutputLevelMessage(LEVEL_DEBUG, "GetFlashUpdatePolicy: HBA %d - %.*s File version=%s", instance, model_len, model,
                       fileText.c_str());
    OutputLevelMessage(LEVEL_DEBUG, "GetFlashUpdatePolicy: HBA %d - %.*s MBI version=%s", instance, model_len, model,
                       adapterText.c_str());
    int result = Meets(cond, adapterText.c_str(), fileText.c_str()) ? 1 : 0;
    OutputLevelMessage(LEVEL_DEBUG, "GetFlashUpdatePolicy: iUpdateStatus (MBI)=%d", result);
    return result;
}

// Splits at '.', ',' and blanks; runs of separators count as one.
std::vector<std::string> Tokens(const std::string &text) {
    std::vector<std::string> out;
    std::string cur;
    for (char c : text) {
        if (c == '.' || c == ',' || c == ' ') {
            if (!cur.empty()) out.push_back(cur);
            cur.clear();
        } else {
            cur.push_back(c);
        }
    }
    if (!cur.empty()) out.push_back(cur);
    return out;
}

bool SameTextNoCase(const std::string &a, const char *b) {
    size_t lb = std::strlen(b);
    if (a.empty() || a.size() != lb) return false;
    for (size_t i = 0; i < lb; ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

long DecimalValue(const std::string &t) {
    long v = 0;
    for (char c : t) {
        if (!std::isdigit(static_cast<unsigned char>(c))) break;
        if (v < 100000000) v = v * 10 + (c - '0');
    }
    return v;
}

} // namespace

int DecideFlashUpdate(int type, int mode, const TVXDevice *device, const FlashCtrEntry *adapter,
                      const FlashCtrEntry *file) {
    OutputLevelMessage(LEVEL_DEBUG, "GetFlashUpdatePolicy: ispType=%d g_iFlashMode=%d", type, mode);
    int result = 0;
    Condition cond = Condition::Lower;
    switch (mode) {
    case 1:
        OutputLevelMessage(LEVEL_DEBUG, "Force Write mode.");
        result = 1;
        break;
    case 0:
        OutputLevelMessage(LEVEL_DEBUG, "Standard mode.");
        cond = Condition::Lower;
        break;
    case 2:
        OutputLevelMessage(LEVEL_DEBUG, "Force ReWrite mode.");
        cond = Condition::LowerOrEqual;
        break;
    case 3:
        OutputLevelMessage(LEVEL_DEBUG, "Force Downgrade mode.");
        cond = Condition::Differs;
        break;
    default:
        CoreTrace(LEVEL_ERROR, "GetFlashUpdatePolicy: Unknown command line option!");
        OutputLevelMessage(LEVEL_DEBUG, "GetFlashUpdatePolicy: return iUpdateStatus=%d", 0);
        return 0;
    }

    if (mode != 1) {
        if (adapter == nullptr || file == nullptr) {
            OutputLevelMessage(LEVEL_DEBUG, "GetFlashUpdatePolicy: return iUpdateStatus=%d", 0);
            return 0;
        }
        if (type <= 7 || type == 14) {
            result = Meets(cond, TwoPart(adapter->biosVer).c_str(), TwoPart(file->biosVer).c_str()) ? 1 : 0;
            OutputLevelMessage(LEVEL_DEBUG, "GetFlashUpdatePolicy: iUpdateStatus (BIOS)=%d", result);
        } else if (type <= 13) {
            struct Step {
                const char *name;
                std::string a, f;
            } steps[] = {
                {"BIOS", TwoPart(adapter->biosVer), TwoPart(file->biosVer)},
                {"EFI", TwoPart(adapter->efiVer), TwoPart(file->efiVer)},
                {"FCode", TwoPart(adapter->fcodeVer), TwoPart(file->fcodeVer)},
                {"Firmware", FwText(adapter->fwVer), FwText(file->fwVer)},
            };
            for (const Step &s : steps) {
                result = Meets(cond, s.a.c_str(), s.f.c_str()) ? 1 : 0;
                OutputLevelMessage(LEVEL_DEBUG, "GetFlashUpdatePolicy: iUpdateStatus (%s)=%d", s.name, result);
                if (result == 1) break;
            }
            if (result == 0 && mode == 0 && (type == 12 || type == 13))
                result = TestMultiboot(cond, device, adapter, file);
        } else {
            result = TestMultiboot(cond, device, adapter, file);
        }
    }
    OutputLevelMessage(LEVEL_DEBUG, "GetFlashUpdatePolicy: return iUpdateStatus=%d", result);
    return result;
}

int GetFlashUpdatePolicy(const TVXDevice *device, const FlashCtrEntry *adapter, const FlashCtrEntry *file) {
    int type = device != nullptr ? GetCxrType(device) : 2;
    return DecideFlashUpdate(type, g_iFlashMode, device, adapter, file);
}

int isInboxDriverVersion(const char *driverVersion) {
    std::string copy = driverVersion != nullptr ? driverVersion : "";
    if (SameTextNoCase(copy, "9.1.4.5") || SameTextNoCase(copy, "9.1.4.6")) return 1;
    std::vector<std::string> tokens = Tokens(copy);
    if (tokens.empty()) return 1;
    static const char kLead[] = {'9', '1', '4'};
    for (size_t i = 0; i < tokens.size() && i < 4; ++i) {
        const std::string &t = tokens[i];
        if (i < 3) {
            if (t[0] != kLead[i]) return 0;
        } else if (t.size() < 2 || (t[0] != '5' && t[0] != '6')) {
            return 0;
        }
    }
    return 1;
}

int isImprovedInboxPhase2DriverVersion(const char *driverVersion, int newerChip) {
    std::string copy;
    if (driverVersion != nullptr) {
        const char *p = driverVersion;
        if (std::isspace(static_cast<unsigned char>(*p))) ++p;
        for (; *p != '\0'; ++p) {
            if (std::isdigit(static_cast<unsigned char>(*p)) || *p == '.') copy.push_back(*p);
        }
    }
    if (copy == "9.1.9.39" || copy == "9.1.9.46") return 1;
    std::vector<std::string> tokens = Tokens(copy);
    if (tokens.empty()) return 0;
    static const long kRef[] = {9, 1, 9};
    for (size_t i = 0; i < tokens.size(); ++i) {
        OutputLevelMessage(LEVEL_DEBUG, "isImprovedInboxPhase2DriverVersion: i=%d token=%s", static_cast<int>(i),
                           tokens[i].c_str());
        long v = DecimalValue(tokens[i]);
        if (i < 3) {
            if (v > kRef[i]) return 1;
            if (v < kRef[i]) return 0;
        } else {
            return v >= (newerChip != 0 ? 39 : 46) ? 1 : 0;
        }
    }
    return 1;
}
