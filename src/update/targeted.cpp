// Targeted update of one adapter port or of every adapter from one file.

#include "update/targeted.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "app/output.h"
#include "inventory/cxrtype.h"
#include "update/imagefile.h"
#include "update/updaterun.h"

namespace {

constexpr int TARGET_REFUSED = 19;

bool IsVirtualPort(const TVXDevice *device) { return device->nodeProperty.InterfaceKind == TVX_INTERFACE_VIRTUAL; }

#define WWN_FMT "%02X-%02X-%02X-%02X-%02X-%02X-%02X-%02X"
#define WWN_ARGS(w) (w)[0], (w)[1], (w)[2], (w)[3], (w)[4], (w)[5], (w)[6], (w)[7]

} // namespace

// Serial number of a port: that of its adapter entry, else read afresh.
std::string PortSerialNumber(TVXDevice *device) {
    if (device == nullptr) return {};
    if (const AdapterEntry *entry = FindAdapterEntryForDevice(device); entry != nullptr)
        return std::string(entry->serialNo, strnlen(entry->serialNo, sizeof(entry->serialNo)));
    char serial[32] = {};
    GetSerialNo(device, serial);
    serial[sizeof(serial) - 1] = '\0';
    return serial;
}

bool SameSerialNumber(const std::string &a, const std::string &b) {
    if (a.empty() || a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

int isFamilyFilterMatch(int familyCode, int cxrType) {
    switch (familyCode) {
    case FAMILY_FILTER_NONE: return 1;
    case FAMILY_FILTER_81XX: return cxrType == 15;
    case FAMILY_FILTER_82XX: return cxrType == 17;
    case FAMILY_FILTER_83XX: return cxrType == 21 || cxrType == 24;
    case FAMILY_FILTER_24XX: return cxrType == 11;
    case FAMILY_FILTER_25XX: return cxrType == 12;
    case FAMILY_FILTER_27XX:
    case FAMILY_FILTER_26XX: return cxrType == 25;
    case FAMILY_FILTER_28XX: return cxrType == 27;
    default: return 0;
    }
}

TVXDevice *FindTVXDeviceToUpdateFlash(TVXDevice *device) {
    if (device == nullptr) return nullptr;
    const int cxr = GetCxrType(device);
    const uint8_t *wwpn = device->portProperty.PortWWN;
    OutputLevelMessage(LEVEL_DEBUG, "FindTVXDeviceToUpdateFlash: HBA %d Port %d %s " WWN_FMT " CXR idx %d",
                       static_cast<int>(device->instance), static_cast<int>(device->physicalPort),
                       device->nodeProperty.Model, WWN_ARGS(wwpn), cxr);
    if (cxr < 8 || (device->physicalPort % 2) == 1) {
        OutputLevelMessage(LEVEL_DEBUG, "FindTVXDeviceToUpdateFlash: Current port is OK to do flash update.");
        return device;
    }
    TVXDevice *result = device;
    if (device->physicalPort >= 2) {
        const std::string serial = PortSerialNumber(device);
        for (TVXDevice *r = g_HBAList.first; r != nullptr; r = r->next) {
            if (r == device || IsVirtualPort(r)) continue;
            if (std::memcmp(r->portProperty.PortWWN, wwpn, 8) == 0) continue;
            if (r->instance == device->instance) continue;
            if (r->physicalPort != device->physicalPort - 1) continue;
            if (!SameSerialNumber(PortSerialNumber(r), serial)) continue;
            OutputLevelMessage(LEVEL_DEBUG, "FindTVXDeviceToUpdateFlash: Found HBA %d Port %d %s " WWN_FMT,
                               static_cast<int>(r->instance), static_cast<int>(r->physicalPort), r->nodeProperty.Model,
                               WWN_ARGS(r->portProperty.PortWWN));
            result = r;
            break;
        }
    }
    OutputLevelMessage(LEVEL_DEBUG, "FindTVXDeviceToUpdateFlash: Return HBA %d Port %d %s " WWN_FMT,
                       static_cast<int>(result->instance), static_cast<int>(result->physicalPort),
                       result->nodeProperty.Model, WWN_ARGS(result->portProperty.PortWWN));
    return result;
}

int DoFlashUpdateAdapterPortFromFile(TVXDevice *device, const char *imageFile, int /*iOption*/, int familyCode,
                                     int bAllPorts, int /*iReserved1*/, int /*iReserved2*/) {
    if (device == nullptr) {
        OutputMessage("Unable to find the selected HBA!");
        return TARGET_REFUSED;
    }
    if (IsVirtualPort(device)) return TARGET_REFUSED;
    OutputLevelMessage(LEVEL_DEBUG, "DoFlashUpdateAdapterPortFromFile: HBA model type=%d", familyCode);
    const int cxr = GetCxrType(device);
    if (!isFamilyFilterMatch(familyCode, cxr)) {
        OutputMessage("Skipping flash update on HBA %lu - %s. MBI file does not match with hardware type!",
                      static_cast<unsigned long>(device->instance), device->nodeProperty.Model);
        return TARGET_REFUSED;
    }
    int st = updateOptionROMSingleHBA(device, imageFile, bAllPorts);
    OutputLevelMessage(LEVEL_DEBUG, "DoFlashUpdateAdapterPortFromFile: returns %d..", st);
    return st;
}

int DoFlashUpdateAllAdaptersFromFile(const char *imageFile, int iOption, int familyCode, int bAllPorts) {
    if (g_HBAList.count == 0 || g_HBAList.first == nullptr) {
        OutputMessage("No compatible HBA(s) found in current system !");
        return 8;
    }
    const char *name = imageFile != nullptr ? imageFile : "";
    std::FILE *f = std::fopen(name, "rb");
    if (f == nullptr) {
        OutputMessage("Failed to open file %s for reading!", name);
        return 1;
    }
    std::fclose(f);
    // Each adapter takes the same file: it is read once.
    ImageFileRun imageFiles;
    int successes = 0;
    for (TVXDevice *d = g_HBAList.first; d != nullptr; d = d->next)
        if (DoFlashUpdateAdapterPortFromFile(d, name, iOption, familyCode, bAllPorts, 1, 1) == 0) ++successes;
    int st = successes > 0 ? 0 : 34;
    OutputLevelMessage(LEVEL_DEBUG, "DoFlashUpdateAllAdaptersFromFile: returns %d", st);
    return st;
}
