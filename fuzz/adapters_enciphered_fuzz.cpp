// Supported-adapter table, enciphered form. The input's first byte chooses
// between a file as given (any bytes, deciphered into noise) and the rest
// of the input enciphered with the table key first, so the reader's row
// handling sees text.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <vector>

#include "fuzz_common.h"
#include "inventory/adapters_table.h"
#include "inventory/blowfish.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) { return fuzz::QuietStart(); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    const bool encipher = in.ConsumeBool();
    std::vector<uint8_t> bytes = in.ConsumeRemainingBytes<uint8_t>();
    if (encipher) {
        bytes.resize((bytes.size() + 7) / 8 * 8, 0);
        static BlowfishContext ctx = [] {
            BlowfishContext c{};
            BlowfishInit(&c, reinterpret_cast<const uint8_t *>(g_szAdapterTableKey), ADAPTER_TABLE_KEY_LENGTH);
            return c;
        }();
        BlowfishEncryptEcb(&ctx, bytes.data(), bytes.data(), bytes.size());
    }
    const std::string path = fuzz::WriteScratch("adapters.enc", bytes.data(), bytes.size());
    SubSystemEntry *list =
        BuildSubSystemListFromEncryptedFile(path.c_str(), g_szAdapterTableKey, ADAPTER_TABLE_KEY_LENGTH);
    for (const SubSystemEntry *e = list; e != nullptr; e = e->next)
        FUZZ_CHECK(std::memchr(e->cxrText, 0, sizeof e->cxrText) != nullptr);
    (void)FindSubSystemInSubSystemList(list, 0x0301, 0x1D7A);
    FreeSubSystemList(list);
    return 0;
}
