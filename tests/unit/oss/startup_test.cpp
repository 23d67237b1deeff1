// Start-up of the services: which folder becomes the configuration
// directory.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/settings.h"
#include "oss/oss.h"

namespace {

namespace fs = std::filesystem;

TEST(OSSInitialize, ConfigurationDirectory) {
    const fs::path old = fs::current_path();
    const fs::path base = fs::temp_directory_path() / "tf_oss_startup";
    fs::remove_all(base);
    fs::create_directories(base);
    // A current directory too long to be read (more than 255 characters).
    fs::path deep = base;
    while (deep.string().size() <= 300)
        deep /= std::string(40, 'd');
    fs::create_directories(deep);
    const std::string longFolder = "/" + std::string(300, 'p') + "/";

    struct Row {
        const char *label;
        fs::path cwd;
        std::string program;
        std::string expected;
    };
    const Row rows[] = {
        {"current directory", base, "/opt/tf/tarnikflasher", fs::canonical(base).string() + "/"},
        {"program folder", deep, "/opt/tf/tarnikflasher", "/opt/tf/"},
        {"program without folder", deep, "tarnikflasher", ""},
        {"program folder too long", deep, longFolder + "tarnikflasher", ""},
    };
    for (const auto &row : rows) {
        fs::current_path(row.cwd);
        std::string program = row.program;
        char *argv[] = {program.data(), nullptr};
        OSSInitialize(1, argv);
        fs::current_path(old);
        EXPECT_EQ(std::string(g_szConfigPath), row.expected) << row.label;
        EXPECT_EQ(std::string(g_configurationFileName), row.expected + "agent.properties") << row.label;
        EXPECT_EQ(g_bOSSInitialized, 1) << row.label;
    }
    fs::remove_all(base);
}

} // namespace
