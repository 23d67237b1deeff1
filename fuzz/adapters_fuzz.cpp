// Supported-adapter table, plain form: the file reader, the row splitter
// and the lookup by subsystem IDs.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <string>

#include "fuzz_common.h"
#include "inventory/adapters_table.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) { return fuzz::QuietStart(); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    const uint16_t ssdid = in.ConsumeIntegral<uint16_t>();
    const uint16_t ssvid = in.ConsumeIntegral<uint16_t>();
    const std::string text = in.ConsumeRemainingBytesAsString();

    const std::string path =
        fuzz::WriteScratch(ADAPTERS_FILE_NAME, reinterpret_cast<const uint8_t *>(text.data()), text.size());
    SubSystemEntry *list = BuildSubSystemListFromFile(path.c_str());
    for (const SubSystemEntry *e = list; e != nullptr; e = e->next) {
        FUZZ_CHECK(std::memchr(e->subsysDeviceId, 0, sizeof e->subsysDeviceId) != nullptr);
        FUZZ_CHECK(std::memchr(e->description, 0, sizeof e->description) != nullptr);
        FUZZ_CHECK(std::memchr(e->supported, 0, sizeof e->supported) != nullptr);
    }
    (void)FindSubSystemInSubSystemList(list, ssdid, ssvid);
    PrintSubSystemList(list);
    FreeSubSystemList(list);

    // The row splitter on the text as one line, with a size that may cut it.
    SubSystemEntry entry{};
    (void)PopulateSubSystemData(&entry, text.c_str(), text.size());
    return 0;
}
