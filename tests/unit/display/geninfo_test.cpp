#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "app/settings.h"
#include "inventory/display.h"

namespace {

std::vector<std::string> InfoLines(TVXDevice &d) {
    testing::internal::CaptureStdout();
    PrintHBAGenInfos(&d);
    std::stringstream ss(testing::internal::GetCapturedStdout());
    std::vector<std::string> lines;
    for (std::string l; std::getline(ss, l);)
        lines.push_back(l);
    return lines;
}

bool Has(const std::vector<std::string> &lines, const std::string &line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

bool HasLabel(const std::vector<std::string> &lines, const std::string &label) {
    return std::any_of(lines.begin(), lines.end(), [&](const std::string &l) { return l.rfind(label, 0) == 0; });
}

// On an IA64 host the boot-image families show their EFI version in place of
// the BIOS version line; the flash lines stay as they are.
TEST(GenInfo, Ia64EfiLine) {
    struct {
        const char *name;
        uint16_t pciId;
        int ia64;
        uint32_t flags;
        const char *shown; // the BIOS/EFI line
        bool flashLines;
    } cases[] = {
        {"24xx on IA64 with EFI", 0x2432, 1, TVX_FLASH_IMAGE_EFI, "EFI Version                    : 6.01", true},
        {"24xx on IA64 without EFI", 0x2432, 1, 0, "EFI Version                    : N/A", true},
        {"23xx on IA64", 0x2312, 1, TVX_FLASH_IMAGE_EFI, "BIOS Version                   : 1.90", false},
        {"24xx elsewhere", 0x2432, 0, TVX_FLASH_IMAGE_EFI, "BIOS Version                   : 1.90", true},
    };
    int saved = g_bIA64Host;
    for (const auto &c : cases) {
        TVXDevice d{};
        d.handle = 0xFFFFFF; // no such handle: library reads fail, stored values stand
        d.chipProperty.PciDeviceId = c.pciId;
        d.nodeProperty.FlashImageFlags = c.flags;
        d.nodeProperty.FlashEfiVersion[0] = 6;
        d.nodeProperty.FlashEfiVersion[1] = 1;
        std::strncpy(d.nodeProperty.OptRomVersion, "1.90", sizeof(d.nodeProperty.OptRomVersion) - 1);
        g_bIA64Host = c.ia64;
        auto lines = InfoLines(d);
        EXPECT_TRUE(Has(lines, c.shown)) << c.name;
        bool efiLine = std::string(c.shown).rfind("EFI", 0) == 0;
        EXPECT_EQ(HasLabel(lines, "BIOS Version  "), !efiLine) << c.name;
        EXPECT_EQ(HasLabel(lines, "EFI Version  "), efiLine) << c.name;
        EXPECT_EQ(Has(lines, "Flash BIOS Version             : 1.90"), c.flashLines) << c.name;
    }
    g_bIA64Host = saved;
}

} // namespace
