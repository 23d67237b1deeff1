// Preferences file: the key lookup and the setting readers of the core
// start-up, over a file of the input's bytes.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_common.h"
#include "inventory/prefs.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz::Silence();
    std::snprintf(g_szConfigPath, sizeof g_szConfigPath, "%s/", fuzz::ScratchDir().c_str());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    const uint32_t instance = in.ConsumeIntegralInRange<uint32_t>(0, 300);
    uint8_t wwn[8];
    for (uint8_t &b : wwn)
        b = in.ConsumeIntegral<uint8_t>();
    const std::string key = in.ConsumeRandomLengthString(64);
    const std::string text = in.ConsumeRemainingBytesAsString();
    fuzz::WriteScratch("agent.properties", reinterpret_cast<const uint8_t *>(text.data()), text.size());

    FUZZ_CHECK(CoreInitialize() == 0);
    fuzz::Silence(); // the quiet-mode reader sets the console mode
    FUZZ_CHECK(g_iPollingInterval > 0);
    FUZZ_CHECK(g_iFabricScanning == 0 || g_iFabricScanning == 1);
    FUZZ_CHECK(g_iSecuredFlashUpdate == 0 || g_iSecuredFlashUpdate == 1);
    uint32_t beacon = 0;
    (void)PrefGetTargetBeacon(instance, wwn, &beacon);

    // The lookup of any key returns a text inside the shared line buffer.
    FILE *f = PrefOpenPreferenceFile();
    if (f != nullptr) {
        const char *value = PrefGetProperty(f, key.c_str());
        if (value != nullptr) FUZZ_CHECK(std::strlen(value) < 512);
        // The readers answer from the file as read at start-up, the same
        // number as the lookup in the file (leading digits, clamped).
        long long expected = value != nullptr ? std::strtoll(value, nullptr, 10) : 0;
        expected = std::clamp<long long>(expected, INT_MIN, INT_MAX);
        std::fclose(f);
        int v = -1;
        FUZZ_CHECK(PrefGetIntProperty(key.c_str(), &v) == 0);
        FUZZ_CHECK(v == expected);
    }
    return 0;
}
