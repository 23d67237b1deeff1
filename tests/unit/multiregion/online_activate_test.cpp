// Activation and the capability query against a simulated dual-bank chip.
#include <gtest/gtest.h>

#include "multiregion/activate.h"
#include "multiregion/capabilities.h"
#include "simchip.h"

namespace {

using mrtest::SimChip;

class OnlineActivate : public SimChip {};

std::string Statuses(std::initializer_list<const char *> list, int repeat = 1) {
    std::string s;
    for (int r = 0; r < repeat; ++r)
        for (const char *x : list)
            s += (s.empty() ? "\"" : ", \"") + std::string(x) + "\"";
    return s;
}

TEST_F(OnlineActivate, RetriesWhileAResetIsPending) {
    struct Case {
        const char *name;
        std::string statuses;
        uint32_t result;
        size_t calls;
    } cases[] = {
        {"done at once", "", 0, 1},
        {"two resets pending", Statuses({"0x20000067", "0x20000075"}), 0, 3},
        {"waits for a reset", Statuses({"0x20000100"}), 0x20000100u, 1},
        {"failed at its end", Statuses({"0x20000075", "0x20000063"}), 0x20000063u, 2},
        {"reset pending 30 times", Statuses({"0x20000075"}, 30), 0x20000075u, 30},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string faults =
            c.statuses.empty()
                ? ""
                : R"("faults": [{"op": "TvxOnlineActivateFlashUpdate", "statuses": [)" + c.statuses + "]}], ";
        Open("0x2281",
             mrtest::ZultRegions(mrtest::Status(1, 5, "0xFACEFADF"), mrtest::Status(0, 4, "0xFACEFADF"),
                                 mrtest::Status(1, 2, "0xFACEFAED"), mrtest::Status(0, 1, "0xFACEFAED")),
             "", faults);
        StartTrace();
        EXPECT_EQ(AppActivateOnlineFlashUpdate(&device_), c.result);
        const std::string trace = StopTrace();
        EXPECT_EQ(mrtest::Count(Journal(), "\"op\":\"activate\""), c.calls);
        // A wait before every call but the first.
        EXPECT_EQ(mrtest::Count(trace, "OSSSleep: 20000 ms"), c.calls - 1);
    }
}

TEST_F(OnlineActivate, CapabilityValues) {
    struct Case {
        const char *chip;
        int result;
        uint32_t capability;
    } cases[] = {
        {R"("update_caps": 2, )", 0, 2},    {R"("update_caps": 4, )", 0, 4},    {R"("update_caps": 8, )", 0, 8},
        {R"("update_caps": 1, )", 1203, 1}, {R"("update_caps": 0, )", 1203, 0}, {R"("update_caps": 6, )", 1203, 6},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.chip);
        Open("0x2071", R"({"code": "0x95", "size": "0x10000"}, {"code": "0x96", "size": "0x10000"})", c.chip);
        uint32_t caps = 99;
        EXPECT_EQ(CheckFlashUpdateCapabilities(&device_, &caps), c.result);
        EXPECT_EQ(caps, c.capability);
    }
    Open("0x2071", R"({"code": "0x95", "size": "0x10000"})", R"("update_caps": null, )");
    EXPECT_EQ(CheckFlashUpdateCapabilities(&device_), 1203);
}

} // namespace
