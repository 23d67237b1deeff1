// Flash control file: the line parser, the version texts and the reading of
// a whole file into the flash control list.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <string>

#include "fuzz_common.h"
#include "update/flashctr.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) { return fuzz::QuietStart(); }

namespace {
// Every text field of an entry is terminated inside its array.
bool Terminated(const char *field, size_t size) { return std::memchr(field, 0, size) != nullptr; }
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // The whole file through the program's reader.
    const std::string path = fuzz::WriteScratch("tarnikflasher.properties", data, size);
    if (BuildFlashCtrListFromFile(path.c_str()) == 0) {
        for (const FlashCtrEntry *e = g_pFlashCtrList; e != nullptr; e = e->next) {
            FUZZ_CHECK(Terminated(e->ssdid, sizeof e->ssdid) && Terminated(e->ssvid, sizeof e->ssvid));
            FUZZ_CHECK(Terminated(e->model, sizeof e->model) && Terminated(e->imageFile, sizeof e->imageFile));
        }
        PrintFlashCtrVersionList(g_pFlashCtrList);
    }
    DeleteFlashCtrVersionList();
    FUZZ_CHECK(g_pFlashCtrList == nullptr);

    // Each line alone, and version texts.
    const std::string text(reinterpret_cast<const char *>(data), size);
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        FlashCtrEntry entry{};
        (void)ParseFlashCtrLine(line.c_str(), &entry);
        uint8_t version[3] = {};
        ConvertVersionText(line.c_str(), version, 3);
        start = end + 1;
    }
    return 0;
}
