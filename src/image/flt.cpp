#include "image/flt.h"

#include <cctype>

#include "app/output.h"
#include "image/helpers.h"

uint16_t GetFlashLayoutVersion(std::span<const uint8_t> flt) {
    OutputLevelMessage(LEVEL_DEBUG, "GetFlashLayoutVersion: Enter...");
    if (flt.size() < FLT_HEADER_SIZE) {
        OutputLevelMessage(LEVEL_DEBUG, "GetFlashLayoutVersion: no header");
        return 0;
    }
    uint16_t version = 0, length = 0, checksum = 0;
    ReadLE16(flt, 0, version);
    ReadLE16(flt, 2, length);
    ReadLE16(flt, 4, checksum);
    size_t words = (static_cast<size_t>(length) + 24) / 2;
    OutputLevelMessage(LEVEL_DEBUG, "GetFlashLayoutVersion: flt_headers=%d", 8);
    OutputLevelMessage(LEVEL_DEBUG, "GetFlashLayoutVersion: flt_tables=%d", 16);
    OutputLevelMessage(LEVEL_DEBUG, "GetFlashLayoutVersion: bytes=%zu", words);
    OutputLevelMessage(LEVEL_DEBUG, "GetFlashLayoutVersion: Flash Layout Table Version  : 0x%X", version);
    OutputLevelMessage(LEVEL_DEBUG, "GetFlashLayoutVersion: Flash Layout Table Length   : 0x%X", length);
    OutputLevelMessage(LEVEL_DEBUG, "GetFlashLayoutVersion: Flash Layout Table Checksum : 0x%X", checksum);
    // A table longer than the buffer cannot be summed: it fails the check.
    if (words > flt.size() / 2 || HLPR_Sum16(flt, words) != 0)
        OutputLevelMessage(LEVEL_DEBUG, "GetFlashLayoutVersion: FLT Checksum Failed!");
    OutputLevelMessage(LEVEL_DEBUG, "GetFlashLayoutVersion: flt_version=%d", version);
    return version;
}

int ValidateFLTLocator(std::span<const uint8_t> locator) {
    OutputLevelMessage(LEVEL_DEBUG, "ValidateFLTLocator: Enter..");
    uint32_t signature = 0;
    if (locator.size() < FLT_LOCATOR_SIZE || !ReadLE32(locator, 0, signature)) {
        OutputLevelMessage(LEVEL_DEBUG, "ValidateFLTLocator: Signature Match Failed!");
        return 0;
    }
    OutputLevelMessage(LEVEL_DEBUG, "ValidateFLTLocator: fltds->signature=%x", signature);
    // The signature is a zero-terminated text: the byte after it must be 0.
    static const char kSig[] = "OFLT";
    bool match = locator[4] == 0;
    for (size_t i = 0; i < 4 && match; ++i)
        match = std::toupper(locator[i]) == static_cast<unsigned char>(kSig[i]);
    if (!match) {
        OutputLevelMessage(LEVEL_DEBUG, "ValidateFLTLocator: Signature Match Failed!");
        return 0;
    }
    if (HLPR_Sum16(locator, FLT_LOCATOR_SIZE / 2) != 0) {
        OutputLevelMessage(LEVEL_DEBUG, "ValidateFLTLocator: Checksum Failed!");
        return 0;
    }
    OutputLevelMessage(LEVEL_DEBUG, "ValidateFLTLocator: FLTDS OK!");
    return 1;
}
