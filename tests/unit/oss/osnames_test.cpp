// Operating-system naming from a version record, banner stamp texts.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "oss/oss.h"

namespace {

OSSVersionInfo Nt(unsigned major, unsigned minor, unsigned build, unsigned product, unsigned arch, unsigned suite = 0,
                  unsigned edition = 0, const char *sp = "") {
    OSSVersionInfo v{};
    v.platformId = OSS_PLATFORM_NT;
    v.major = major;
    v.minor = minor;
    v.build = build;
    v.productType = product;
    v.processorArch = arch;
    v.suiteMask = suite;
    v.editionType = edition;
    std::snprintf(v.servicePack, sizeof v.servicePack, "%s", sp);
    return v;
}

struct NameCase {
    const char *label;
    OSSVersionInfo info;
    const char *type;
    const char *version;
};

constexpr unsigned WS = OSS_PRODUCT_WORKSTATION;
constexpr unsigned SRV = 3;
constexpr unsigned X64 = OSS_ARCH_X64;
constexpr unsigned X86 = OSS_ARCH_X86;
constexpr unsigned IA64 = OSS_ARCH_IA64;

TEST(OSNaming, NtTable) {
    OSSVersionInfo r2 = Nt(5, 2, 3790, SRV, X86);
    r2.r2Metric = 1;
    OSSVersionInfo viaRegistry = Nt(6, 2, 9200, SRV, X64); // compatibility-shimmed report
    viaRegistry.regMajor = 10;
    viaRegistry.regMinor = 0;
    viaRegistry.regBuild = 17763;
    OSSVersionInfo nt4 = Nt(4, 0, 1381, WS, X86, 0, 0, "Service Pack 6");
    std::snprintf(nt4.ntProductType, sizeof nt4.ntProductType, "WINNT");
    OSSVersionInfo nt4s = nt4;
    std::snprintf(nt4s.ntProductType, sizeof nt4s.ntProductType, "SERVERNT");

    const NameCase cases[] = {
        {"2016", Nt(10, 0, 14393, SRV, X64), "Microsoft Windows Server 2016 64-bit x64", "Build 14393"},
        {"2019", Nt(10, 0, 17763, SRV, X64), "Microsoft Windows Server 2019 64-bit x64", "Build 17763"},
        {"10", Nt(10, 0, 19045, WS, X86), "Microsoft Windows 10   32-bit x64", "Build 19045"},
        {"registry", viaRegistry, "Microsoft Windows Server 2019 64-bit x64", "Build 17763"},
        {"8.1", Nt(6, 3, 9600, WS, X64, 0, 4), "Microsoft Windows 8.1 Enterprise 64-bit x64", "Build 9600"},
        {"2012R2", Nt(6, 3, 9600, SRV, X64, 0, 8), "Microsoft Windows Server 2012 R2 Datacenter 64-bit x64",
         "Build 9600"},
        {"8", Nt(6, 2, 9200, WS, X64, 0, 99), "Microsoft Windows 8  64-bit x64", "Build 9200"},
        {"2012", Nt(6, 2, 9200, SRV, X64, 0, 13), "Microsoft Windows Server 2012 Standard (core) 64-bit x64",
         "Build 9200"},
        {"7", Nt(6, 1, 7601, WS, X86, 0, 1, "Service Pack 1"), "Microsoft Windows 7 Ultimate  32-bit x64",
         "Service Pack 1 (Build 7601)"},
        {"2008R2", Nt(6, 1, 7601, SRV, X64, 0, 10), "Microsoft Windows Server 2008 R2 Enterprise 64-bit x64",
         "Build 7601"},
        {"Vista", Nt(6, 0, 6002, WS, X86, 0, 3), "Microsoft Windows Vista Home Premium  32-bit x64", "Build 6002"},
        {"2008", Nt(6, 0, 6002, SRV, IA64, 0, 15), "Microsoft Windows Server 2008 Enterprise Itanium x64",
         "Build 6002"},
        {"XP x64", Nt(5, 2, 3790, WS, X64), "Microsoft Windows XP Professional  x64", "Build 3790"},
        {"2003R2", r2, "Microsoft Windows Server 2003 R2 Standard x64", "Build 3790"},
        {"2003 storage", Nt(5, 2, 3790, SRV, X64, OSS_SUITE_STORAGE_SERVER),
         "Microsoft Windows Storage Server 2003 Standard x64", "Build 3790"},
        {"2003 dc ia64", Nt(5, 2, 3790, SRV, IA64, OSS_SUITE_DATACENTER),
         "Microsoft Windows Server 2003 Datacenter Itanium x64", "Build 3790"},
        {"2003 ent ia64", Nt(5, 2, 3790, SRV, IA64, OSS_SUITE_ENTERPRISE),
         "Microsoft Windows Server 2003 Enterprise Itanium x64", "Build 3790"},
        {"2003 ent", Nt(5, 2, 3790, SRV, X64, OSS_SUITE_ENTERPRISE), "Microsoft Windows Server 2003 Enterprise x64",
         "Build 3790"},
        {"2003 cc", Nt(5, 2, 3790, SRV, X64, OSS_SUITE_COMPUTE_SERVER),
         "Microsoft Windows Server 2003 Compute Cluster x64", "Build 3790"},
        {"XP home", Nt(5, 1, 2600, WS, X86, OSS_SUITE_PERSONAL, 0, "Service Pack 3"),
         "Microsoft Windows XP Home Edition x64", "Service Pack 3 (Build 2600)"},
        {"XP pro", Nt(5, 1, 2600, WS, X86), "Microsoft Windows XP Professional x64", "Build 2600"},
        {"2000 pro", Nt(5, 0, 2195, WS, X86), "Microsoft Windows 2000 Professional x64", "Build 2195"},
        {"2000 dc", Nt(5, 0, 2195, SRV, X86, OSS_SUITE_DATACENTER), "Microsoft Windows 2000 Datacenter Server x64",
         "Build 2195"},
        {"2000 adv", Nt(5, 0, 2195, SRV, X86, OSS_SUITE_ENTERPRISE), "Microsoft Windows 2000 Advanced Server x64",
         "Build 2195"},
        {"2000", Nt(5, 0, 2195, SRV, X86), "Microsoft Windows 2000 Server x64", "Build 2195"},
        {"NT4 ws", nt4, "Windows NT Workstation x64", "4.0 Service Pack 6 (Build 1381)"},
        {"NT4 srv", nt4s, "Windows NT Server x64", "4.0 Service Pack 6 (Build 1381)"},
    };
    for (const auto &c : cases) {
        char type[128], version[128];
        ASSERT_EQ(OSSBuildOSNames(c.info, true, type, sizeof type, version, sizeof version), 1) << c.label;
        EXPECT_STREQ(type, c.type) << c.label;
        EXPECT_STREQ(version, c.version) << c.label;
    }
}

TEST(OSNaming, EditionWords) {
    const std::pair<unsigned, const char *> words[] = {
        {1, "Ultimate"},
        {2, "Home Basic"},
        {3, "Home Premium"},
        {4, "Enterprise"},
        {6, "Business"},
        {7, "Standard"},
        {8, "Datacenter"},
        {9, "Small Business Server"},
        {10, "Enterprise"},
        {11, "Starter"},
        {12, "Datacenter (core)"},
        {13, "Standard (core)"},
        {14, "Enterprise (core)"},
        {15, "Enterprise Itanium"},
        {17, "Web Server"},
        {18, "Cluster Server"},
        {25, "Small Business Server Premium"},
        {5, ""},
        {16, ""},
        {0, ""},
    };
    for (const auto &[type, word] : words)
        EXPECT_STREQ(OSSEditionWord(type), word) << type;
}

TEST(OSNaming, OtherPlatformsAndLegacy) {
    char type[128], version[128];
    OSSVersionInfo v{};
    v.platformId = OSS_PLATFORM_WIN9X;
    v.major = 4;
    v.minor = 0;
    std::snprintf(v.servicePack, sizeof v.servicePack, " C");
    ASSERT_EQ(OSSBuildOSNames(v, true, type, sizeof type, version, sizeof version), 1);
    EXPECT_STREQ(type, "Microsoft Windows 95 OSR2");
    EXPECT_STREQ(version, "4.0");
    v.minor = 10;
    std::snprintf(v.servicePack, sizeof v.servicePack, " A");
    ASSERT_EQ(OSSBuildOSNames(v, true, type, sizeof type, version, sizeof version), 1);
    EXPECT_STREQ(type, "Microsoft Windows 98 SE");
    v.minor = 90;
    ASSERT_EQ(OSSBuildOSNames(v, true, type, sizeof type, version, sizeof version), 1);
    EXPECT_STREQ(type, "Microsoft Windows Me");
    EXPECT_STREQ(version, "4.90");
    v.platformId = OSS_PLATFORM_WIN32S;
    ASSERT_EQ(OSSBuildOSNames(v, true, type, sizeof type, version, sizeof version), 1);
    EXPECT_STREQ(type, "Microsoft Win32s");

    EXPECT_EQ(OSSBuildOSNames(Nt(3, 51, 1057, WS, X86), true, type, sizeof type, version, sizeof version), 0);
    OSSVersionInfo other = Nt(10, 0, 1, WS, X64);
    other.platformId = 7;
    EXPECT_EQ(OSSBuildOSNames(other, true, type, sizeof type, version, sizeof version), 0);
}

TEST(OSNaming, SimpleNamingSkipsRegistryAndEditions) {
    char type[128], version[128];
    OSSVersionInfo v = Nt(6, 1, 7601, SRV, X64, 0, 10);
    v.regMajor = 10;
    v.regBuild = 17763;
    ASSERT_EQ(OSSBuildOSNames(v, false, type, sizeof type, version, sizeof version), 1);
    EXPECT_STREQ(type, "Microsoft Windows Server 2008 R2  64-bit x64");
    EXPECT_STREQ(version, "Build 7601");
    EXPECT_EQ(OSSBuildOSNames(Nt(10, 0, 17763, SRV, X64), false, type, sizeof type, version, sizeof version), 0);
}

TEST(OSNaming, TextsAreCutToTheirBuffers) {
    OSSVersionInfo v = Nt(6, 1, 7601, SRV, X64, 0, 25, "");
    std::memset(v.servicePack, 'S', sizeof v.servicePack - 1);
    v.servicePack[sizeof v.servicePack - 1] = '\0';
    char type[16], version[20];
    ASSERT_EQ(OSSBuildOSNames(v, true, type, sizeof type, version, sizeof version), 1);
    EXPECT_STREQ(type, "Microsoft Windo");
    EXPECT_EQ(std::strlen(version), sizeof version - 1);
}

TEST(BannerStamp, TwelveHourTimeAndDate) {
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 0;
    t.tm_mday = 5;
    const std::tuple<int, int, int, const char *> times[] = {
        {0, 5, 9, "12:05:09 AM"}, {9, 30, 0, "9:30:00 AM"}, {12, 0, 0, "12:00:00 PM"}, {23, 59, 59, "11:59:59 PM"}};
    for (const auto &[h, m, s, text] : times) {
        t.tm_hour = h;
        t.tm_min = m;
        t.tm_sec = s;
        EXPECT_EQ(OSSFormatBannerTime(t), text);
    }
    EXPECT_EQ(OSSFormatBannerDate(t), "01/05/2026");
}

} // namespace
