// Command line: both passes over words split from the input (at NUL and
// newline), then the settings they leave.
#include <cstring>
#include <string>
#include <vector>

#include "app/cmdline.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz::Silence();
    // "/trace" opens the log in the current folder: keep it in the scratch.
    if (chdir(fuzz::ScratchDir().c_str()) != 0) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::vector<std::string> words{"tarnikflasher"};
    std::string word;
    for (size_t i = 0; i < size; ++i) {
        const char c = static_cast<char>(data[i]);
        if (c == '\0' || c == '\n') {
            words.push_back(word);
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty()) words.push_back(word);
    if (words.size() > 300) return 0;
    std::vector<char *> argv;
    for (auto &w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);

    const int result = ParseCommandLine(static_cast<int>(words.size()), argv.data());
    FUZZ_CHECK(result == 0 || result == 1 || result == 2 || result == 7 || result == 10 || result == 16);
    if (result == 0) {
        FUZZ_CHECK(g_iAdapterInstance >= 0 && g_iAdapterInstance <= MAX_ADAPTER_INSTANCE);
        FUZZ_CHECK(std::memchr(g_szMBIFile, 0, sizeof g_szMBIFile) != nullptr);
    }
    FUZZ_CHECK(std::memchr(g_szCmdLineError, 0, sizeof g_szCmdLineError) != nullptr);
    FUZZ_CHECK(GetPositionalCount() == 0);
    if (g_pLogFile != nullptr) {
        std::fclose(g_pLogFile);
        g_pLogFile = nullptr;
    }
    fuzz::Silence();
    return 0;
}
