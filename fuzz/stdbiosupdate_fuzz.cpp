// Whole option-ROM update of a 23xx adapter against a fake device library
// whose ID reads and write answer the input chooses; the image is the image
// kit's 23xx option ROM (standard or common BIOS) with a few bytes changed,
// or raw input bytes.
//
// Invariants checked after each update:
// - nothing is written while the last answer to an ID read was a failure;
// - what is written is the file as the program's own check patches it for
//   the board, and only when that check passes;
// - success (0 or 201) only after a write that succeeded.
#include <cstring>
#include <vector>

#include "fake_library.h"
#include "imagekit/imagekit.h"
#include "inventory/tvxdevice.h"
#include "update/optionrom.h"
#include "update/updaterun.h"

namespace {

constexpr uint32_t kHandle = 0x2312;
constexpr uint16_t kSsvid = 0x1D7A;
constexpr uint16_t kSsdid = 0x0101;

const uint32_t kFailures[] = {TVX_ERR_GENERAL, TVX_ERR_FLASH_WRITE, TVX_ERR_BUSY, TVX_ERR_RESET_DISABLED,
                              TVX_ERR_INVALID_SIZE};

// The writes and their answers of one input (the answers and the reads
// are fuzz::g_library's).
struct Fake {
    std::vector<std::vector<uint8_t>> writes;
    std::vector<uint32_t> answers;
};

Fake g_fake;
std::vector<uint8_t> g_images[2];

} // namespace

// ---- The fake library (these definitions take the place of the shared
// library's for this executable).
extern "C" {

TVX_STATUS TvxUpdateOptionRom(uint32_t handle, uint32_t, const uint8_t *buffer, uint32_t size) {
    if (handle != kHandle || buffer == nullptr) return TVX_ERR_INVALID_PARAMETER;
    g_fake.writes.emplace_back(buffer, buffer + size);
    fuzz::g_library.written = true;
    g_fake.answers.push_back(fuzz::g_library.Answer(kFailures));
    return g_fake.answers.back();
}

} // extern "C"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz::Silence();
    setenv("TARNIK_NO_SLEEP", "1", 1);
    fuzz::g_library.Configure(kHandle, kSsvid, kSsdid, kFailures);
    static const char kTable[] = "0x0101,0x1D7A,CXR2312,Single port 2Gb FC HBA,TRUE\n";
    fuzz::WriteScratch("adapters.properties", reinterpret_cast<const uint8_t *>(kTable), sizeof kTable - 1);
    std::snprintf(g_szConfigPath, sizeof g_szConfigPath, "%s", fuzz::ScratchDir().c_str());
    imagekit::OptionRom23Spec standard;
    g_images[0] = imagekit::BuildOptionRom23(standard);
    imagekit::OptionRom23Spec common;
    common.commonBios = true;
    common.efi = true;
    g_images[1] = imagekit::BuildOptionRom23(common);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    g_fake = Fake{};
    fuzz::g_library.Reset(in);

    const uint8_t imageKind = in.ConsumeIntegralInRange<uint8_t>(0, 2);
    std::vector<uint8_t> image;
    if (imageKind < 2)
        image = fuzz::MutatedImage(in, g_images[imageKind], 16, 0xFF);
    else
        image = fuzz::RawImage(in);
    const std::string path = fuzz::WriteScratch("rom.bin", image.data(), image.size());

    TVXDevice device{};
    device.handle = kHandle;
    device.chipProperty.PciDeviceId = 0x2312;
    std::snprintf(device.nodeProperty.Model, sizeof device.nodeProperty.Model, "CXR2312");

    const int result = DoStdBiosUpdate(&device, path.c_str());
    const auto &writes = g_fake.writes;
    fuzz::g_library.CheckNoWriteAfterFailedRead();
    FUZZ_CHECK(writes.size() <= 1);

    // The program's own check on a copy, with the board's true IDs.
    std::vector<uint8_t> patched = image;
    int check = -1;
    if (std::FILE *f = std::fopen(path.c_str(), "rb"); f != nullptr) {
        check = ValidateUpdateOptionROM(f, kSsdid, kSsvid, patched, static_cast<uint32_t>(patched.size()),
                                        device.nodeProperty.Model);
        std::fclose(f);
    }
    if (!writes.empty()) {
        FUZZ_CHECK(check == 0 || check == 15);
        FUZZ_CHECK(writes.front() == patched);
    }
    if (result == 0 || result == OPTROM_OK_RESET_DISABLED) {
        FUZZ_CHECK(!writes.empty());
        FUZZ_CHECK(g_fake.answers.front() == (result == 0 ? TVX_STATUS_OK : TVX_ERR_RESET_DISABLED));
    }
    return 0;
}
