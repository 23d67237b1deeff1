// One image file taken by several adapters in one run: each adapter gets
// the file as it is on disk, patched for itself only.
#include <gtest/gtest.h>

#include "update_hosts.h"

namespace {

using upd::FlashVersions;
using upd::MultibootCard;
using upd::MultibootChip;

// A card of the 25xx layout with its own model name.
std::string Card(const std::string &name, const std::string &serial, const std::string &model) {
    std::string card = MultibootCard(name, "2532", "0x0301", serial, {MultibootChip("2532", {}, 2)});
    const std::string from = R"("model": "CXR2532-2P")";
    card.replace(card.find(from), from.size(), R"("model": ")" + model + "\"");
    return card;
}

TEST(UpdateSharedImage, EachAdapterGetsTheFilePatchedForItself) {
    upd::Scene s("run_shared_image");
    const std::vector<std::string> models = {"CXR2532-AA", "CXR2532-BB", "CXR2532-CC"};
    s.Files(upd::Host({Card("c25a", "RFD2500A", models[0]), Card("c25b", "RFD2500B", models[1]),
                       Card("c25c", "RFD2500C", models[2])}));
    s.Kit({"multiboot", "--chip", "2532", "mbi25.bin"});
    const std::string image = e2e::ReadFile(s.path() / "mbi25.bin");
    auto r = s.Tf({});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(upd::Count(r.out, "Option ROM update complete."), 3u) << r.out;
    EXPECT_EQ(s.WriteList(), (std::vector<std::string>{"0:0x07", "0:0x01", "2:0x07", "2:0x01", "4:0x07", "4:0x01"}));

    const char *cards[] = {"c25a", "c25b", "c25c"};
    for (size_t i = 0; i < 3; ++i) {
        const std::string boot = e2e::ReadFile(s.path() / "state" / (std::string(cards[i]) + "-0") / "region_07.bin");
        for (size_t j = 0; j < 3; ++j)
            EXPECT_EQ(boot.find(models[j]) != std::string::npos, i == j) << cards[i] << " carries " << models[j];
        // The firmware region is the file's, byte for byte.
        const std::string fw = e2e::ReadFile(s.path() / "state" / (std::string(cards[i]) + "-0") / "region_01.bin");
        EXPECT_EQ(fw, image.substr(0x80000, 0x40000)) << cards[i];
    }
    // The file itself is left as it was.
    EXPECT_EQ(e2e::ReadFile(s.path() / "mbi25.bin"), image);
}

} // namespace
