// Boot-code components: the PCI chain of one protocol's boot code, its
// versions, and on the first-generation and Lark families the flash layout
// table locator that must follow the chain.
#include <algorithm>

#include "app/output.h"
#include "image/components.h"
#include "image/flt.h"
#include "image/pcirom.h"

namespace {

using ChainValidator = int (*)(std::span<const uint8_t>, uint16_t);
using VersionReader = int (*)(std::span<const uint8_t>, ImageVersionRecord *, uint16_t);

struct ValidatorRow {
    ChainValidator validate;
    const char *name;
};

ValidatorRow ValidatorFor(BootProtocol protocol) {
    switch (protocol) {
    case BootProtocol::Nic: return {ValidateNICPciHeaders, "ValidateNICPciHeaders"};
    case BootProtocol::iSCSI: return {ValidateiSCSIPciHeaders, "ValidateiSCSIPciHeaders"};
    case BootProtocol::FCoE:
    case BootProtocol::FC: break;
    }
    return {ValidateFCoEPciHeaders, "ValidateFCoEPciHeaders"};
}

struct FamilyRow {
    BootFamily family;
    VersionReader read;
    const char *readerName;
    bool locator;           // an FLT locator follows the chain
    const char *callers[4]; // by protocol: NIC, FCoE, iSCSI, FC
};

const FamilyRow kFamilies[] = {
    {BootFamily::FirstGen,
     GetImageVersions,
     "GetImageVersions",
     true,
     {"ValidateNICBootCode", "ValidateFCoEBootCode", "ValidateiSCSIBootCode", "ValidateFCBootCode"}},
    {BootFamily::Lark,
     GetLarkImageVersions,
     "GetLarkImageVersions",
     true,
     {"ValidateLarkNICBootCode", "ValidateLarkFCoEBootCode", "ValidateLarkiSCSIBootCode", "ValidateLarkFCBootCode"}},
    {BootFamily::Tesk,
     GetTeskImageVersions,
     "GetTeskImageVersions",
     false,
     {"ValidateTeskNICBootCode", "ValidateTeskFCoEBootCode", "ValidateTeskiSCSIBootCode", "ValidateTeskFCBootCode"}},
    {BootFamily::Fenwar,
     GetFenwarImageVersions,
     "GetFenwarImageVersions",
     false,
     {"ValidateFenwarBootCode", "ValidateFenwarBootCode", "ValidateFenwarBootCode", "ValidateFenwarBootCode"}},
};

const FamilyRow &RowOf(BootFamily family) {
    for (const auto &row : kFamilies)
        if (row.family == family) return row;
    return kFamilies[0];
}

// The locator stands right after the last image of the chain and must lie
// inside the component (it is written with it). A chain whose end cannot be
// found skips the test.
bool LocatorAfterChainOk(const char *caller, std::span<const uint8_t> component) {
    size_t end = FindPciImageChainEnd(component);
    if (end == 0) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: end of the chain not found, FLTDS not tested", caller);
        return true;
    }
    std::span<const uint8_t> locator = end < component.size()
                                           ? component.subspan(end, std::min(FLT_LOCATOR_SIZE, component.size() - end))
                                           : std::span<const uint8_t>{};
    if (locator.size() < FLT_LOCATOR_SIZE || !ValidateFLTLocator(locator)) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: Unable to validate FLTDS.", caller);
        return false;
    }
    return true;
}

} // namespace

bool ValidateBootCode(BootFamily family, BootProtocol protocol, std::span<const uint8_t> component, uint16_t deviceId,
                      ImageVersionRecord *record) {
    const FamilyRow &row = RowOf(family);
    const char *caller = row.callers[static_cast<int>(protocol)];
    ValidatorRow validator = ValidatorFor(protocol);
    OutputLevelMessage(LEVEL_DEBUG, "%s: device 0x%04X, chain of 0x%zx bytes", caller, deviceId, component.size());
    if (!validator.validate(component, deviceId)) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: %s Failed!", caller, validator.name);
        return false;
    }
    ImageVersionRecord scratch{};
    int status = row.read(component, record != nullptr ? record : &scratch, deviceId);
    if (status != BOOTVER_OK) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: %s Failed! (status %d)", caller, row.readerName, status);
        return false;
    }
    if (row.locator && !LocatorAfterChainOk(caller, component)) return false;
    OutputLevelMessage(LEVEL_DEBUG, "%s: boot code OK", caller);
    return true;
}

bool ValidateZultBootCode(std::span<const uint8_t> component, uint16_t deviceId, ZultImageVersionRecord *record) {
    OutputLevelMessage(LEVEL_DEBUG, "ValidateGenericBootCode: device 0x%04X, chain of 0x%zx bytes", deviceId,
                       component.size());
    if (!ValidateFCoEPciHeaders(component, deviceId)) {
        OutputLevelMessage(LEVEL_DEBUG, "ValidateGenericBootCode: ValidateFCoEPciHeaders Failed!");
        return false;
    }
    ZultImageVersionRecord scratch{};
    int status = GetImageBootCodesVersion(component, record != nullptr ? record : &scratch, deviceId);
    if (status != BOOTVER_OK) {
        OutputLevelMessage(LEVEL_DEBUG, "ValidateGenericBootCode: GetImageBootCodesVersion Failed! (status %d)",
                           status);
        return false;
    }
    OutputLevelMessage(LEVEL_DEBUG, "ValidateGenericBootCode: boot code OK");
    return true;
}
