// Include rules of the layers below the update drivers: the image formats
// read bytes only, the region primitives sit right above the device
// library, and nothing below the update subsystem reaches into it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// The project headers a source file includes ("..." form).
std::vector<std::string> Includes(const fs::path &file) {
    std::ifstream in(file);
    std::vector<std::string> out;
    const std::regex include(R"(^\s*#\s*include\s*"([^"]+)\")");
    std::smatch m;
    for (std::string line; std::getline(in, line);)
        if (std::regex_search(line, m, include)) out.push_back(m[1]);
    return out;
}

bool Allowed(const std::string &header, const std::vector<std::string> &prefixes) {
    for (const auto &p : prefixes)
        if (header.rfind(p, 0) == 0) return true;
    return false;
}

TEST(Layering, LowerLayersIncludeOnlyWhatIsBelowThem) {
    const fs::path src = fs::path(TF_SOURCE_DIR) / "src";
    struct Rule {
        const char *what;
        std::vector<fs::path> files;      // files, or every source of a folder
        std::vector<std::string> allowed; // header prefixes they may include
    };
    auto folder = [&](const char *name) {
        std::vector<fs::path> files;
        for (const auto &e : fs::directory_iterator(src / name))
            if (e.path().extension() == ".h" || e.path().extension() == ".cpp") files.push_back(e.path());
        return files;
    };
    const std::vector<std::string> below = {"devlib/", "torvex.h", "oss/", "app/output.h", "image/helpers.h"};
    std::vector<std::string> primitives = below;
    // A plain buffer for region reads (no adapter access).
    primitives.insert(primitives.end(), {"update/flashregion.h", "update/regions.h", "update/scratch.h"});
    std::vector<Rule> rules = {
        // The time stamp of a combined image takes the local time from the
        // OS layer (tests pin it there).
        {"image formats", folder("image"), {"image/", "app/output.h", "oss/oss.h"}},
        {"region primitives", {src / "update/flashregion.h", src / "update/flashregion.cpp"}, primitives},
        {"device library", folder("devlib"), {"devlib/", "torvex.h"}},
    };
    // The inventory and the VPD records are below the update subsystem.
    const std::vector<std::string> lowerAllowed = {"app/",   "devlib/",    "torvex.h", "oss/",
                                                   "image/", "inventory/", "vpd/"};
    for (const char *lower : {"inventory", "vpd", "oss"}) {
        std::vector<fs::path> files = folder(lower);
        // The VPD version refresh reads and writes VPD regions: it sits on
        // the region primitives, still below every update driver.
        std::erase_if(files, [](const fs::path &f) { return f.stem() == "vpdrefresh"; });
        rules.push_back({lower, files, lowerAllowed});
    }
    std::vector<std::string> refresh = lowerAllowed;
    refresh.insert(refresh.end(), {"update/flashregion.h", "update/regions.h"});
    rules.push_back({"VPD refresh", {src / "vpd/vpdrefresh.h", src / "vpd/vpdrefresh.cpp"}, refresh});
    for (const auto &rule : rules) {
        ASSERT_FALSE(rule.files.empty()) << rule.what;
        for (const auto &file : rule.files) {
            ASSERT_TRUE(fs::exists(file)) << file;
            for (const auto &header : Includes(file))
                EXPECT_TRUE(Allowed(header, rule.allowed))
                    << rule.what << ": " << file.filename().string() << " includes " << header;
        }
    }
}

} // namespace
