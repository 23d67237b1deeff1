#include "image/mbi_version.h"

#include "app/output.h"
#include "image/helpers.h"

int getMBImageVersionInFirmware(std::span<const uint8_t> block, MultibootVersion *version) {
    OutputLevelMessage(LEVEL_DEBUG, "isCorrectFirmwareMBImage: Enter...");
    uint16_t word0 = 0, word1 = 0;
    bool haveWords = ReadLE16(block, 0, word0) && ReadLE16(block, 2, word1);
    uint32_t signature = (static_cast<uint32_t>(word1) << 16) | word0;
    OutputLevelMessage(LEVEL_DEBUG, "isCorrectFirmwareMBImage: signatureid = 0x%x", signature);
    uint8_t major = 0, minor = 0, sub = 0;
    if (haveWords && signature == MBI_VERSION_SIGNATURE && ReadU8(block, 4, major) && ReadU8(block, 5, minor) &&
        ReadU8(block, 6, sub)) {
    } else {
        OutputLevelMessage(LEVEL_DEBUG, "isCorrectFirmwareMBImage: No signature found!");
        major = minor = sub = 0;
    }
    if (version != nullptr) {
        version->ExistingMultibootVersionMajor = major;
        version->ExistingMultibootVersionMinor = minor;
        version->ExistingMultibootVersionSubMinor = sub;
    }
    OutputLevelMessage(LEVEL_DEBUG, "getMBImageVersionInFirmware: pImageVer = %d.%02d.%02d", major, minor, sub);
    OutputLevelMessage(LEVEL_DEBUG, "getMBImageVersionInFirmware: return %d", 0);
    return 0;
}
