// Region update of a classic FC adapter against a fake device library whose
// answers the input chooses: the layout (region codes and sizes), the
// status of every ID read, layout query, region read and region write. The
// image is one of the image kit's (a whole multi-boot image, a boot chain,
// a firmware file) with a few bytes changed, or raw input bytes.
//
// Invariants checked after each update:
// - every write names a region of the layout with exactly its size;
// - nothing is written while the last answer to an ID read, a layout query
//   or a read of the current contents was a failure (a failed read that a
//   later one of the same value made good is no bar), nor when the image
//   fails validation;
// - nothing is written after a write that failed;
// - every written byte is the patched image's, or the region's current
//   contents where the image does not reach;
// - success (0 or 201) only after writes that all succeeded.
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "fake_library.h"
#include "imagekit/imagekit.h"
#include "inventory/tvxdevice.h"
#include "update/optionrom.h"

namespace {

constexpr uint32_t kHandle = 0x4711;
constexpr uint16_t kSsvid = 0x1D7A;
constexpr uint16_t kSsdid = 0x0301;
constexpr size_t kFwOffset = 0x80000;

const uint32_t kReadAnswers[] = {TVX_ERR_GENERAL, TVX_ERR_FLASH_READ, TVX_ERR_BUSY, TVX_ERR_RESET_PENDING,
                                 TVX_ERR_INVALID_SIZE};
const uint32_t kWriteAnswers[] = {TVX_ERR_GENERAL, TVX_ERR_FLASH_WRITE, TVX_ERR_BUSY, TVX_ERR_RESET_PENDING,
                                  TVX_ERR_RESET_DISABLED};
const uint32_t kCodes[] = {0x01, 0x05, 0x07, 0x14, 0xFF, 0x02, 0x2E};
// Region sizes up to 4 MiB, beyond the classic chips' flash: the program holds a region in
// memory whole, so sizes in the gigabytes only measure the allocator.
constexpr uint32_t kMaxRegion = 0x400000;
const uint32_t kSizes[] = {0, 0x200, 0x10000, 0x20000, 0x40000, 0x80000, 0x100000, 0x100001, kMaxRegion};

bool IsReset(uint32_t st) { return st == TVX_ERR_BUSY || st == TVX_ERR_RESET_PENDING; }

struct Write {
    uint32_t region, size, status;
    std::vector<uint8_t> data;
};

// The fake library's state for one input (the answers and the reads are
// fuzz::g_library's).
struct Fake {
    std::vector<TVX_REGION_ENTRY> layout;
    std::map<uint32_t, std::vector<uint8_t>> readBack; // contents given per region
    std::vector<Write> writes;

    const TVX_REGION_ENTRY *Find(uint32_t region) const {
        for (const auto &e : layout)
            if (e.Region == region) return &e;
        return nullptr;
    }
};

Fake g_fake;
std::vector<uint8_t> g_images[3];

uint8_t ContentByte(uint32_t region, size_t i) { return static_cast<uint8_t>((i * 131u + region * 7u) >> 3); }

} // namespace

// ---- The fake library (these definitions take the place of the shared
// library's for this executable).
extern "C" {

TVX_STATUS TvxGetOptionRomLayout(uint32_t handle, uint32_t, TVX_OPTION_ROM_LAYOUT *layout) {
    if (handle != kHandle || layout == nullptr || layout->Size < 8) return TVX_ERR_INVALID_PARAMETER;
    const uint32_t st = fuzz::g_library.Read("TvxGetOptionRomLayout", 0, fuzz::g_library.Answer(kReadAnswers));
    if (st != TVX_STATUS_OK) return st;
    const size_t room = (layout->Size - 8) / sizeof(TVX_REGION_ENTRY);
    const size_t n = g_fake.layout.size();
    layout->Count = static_cast<uint32_t>(n);
    for (size_t i = 0; i < n && i < room; ++i)
        layout->Region[i] = g_fake.layout[i];
    return room < n ? TVX_ERR_BUFFER_TOO_SMALL : TVX_STATUS_OK;
}

TVX_STATUS TvxGetOptionRomEx(uint32_t handle, uint32_t, uint8_t *buffer, uint32_t size, uint32_t region) {
    if (handle != kHandle || buffer == nullptr) return TVX_ERR_INVALID_PARAMETER;
    const TVX_REGION_ENTRY *e = g_fake.Find(region);
    if (e == nullptr) return fuzz::g_library.Read("TvxGetOptionRomEx", region, TVX_ERR_INVALID_REGION);
    if (size == 0 || size > e->Size) return fuzz::g_library.Read("TvxGetOptionRomEx", region, TVX_ERR_INVALID_SIZE);
    const uint32_t st = fuzz::g_library.Read("TvxGetOptionRomEx", region, fuzz::g_library.Answer(kReadAnswers));
    if (st != TVX_STATUS_OK) return st;
    std::vector<uint8_t> &given = g_fake.readBack[region];
    given.resize(size);
    for (size_t i = 0; i < size; ++i)
        given[i] = buffer[i] = ContentByte(region, i);
    return TVX_STATUS_OK;
}

static TVX_STATUS FakeWrite(const uint8_t *buffer, uint32_t size, uint32_t region) {
    // Guard against a size the buffer cannot back before copying it.
    const TVX_REGION_ENTRY *e = g_fake.Find(region);
    FUZZ_CHECK(e != nullptr && size != 0 && size == e->Size);
    Write w{region, size, fuzz::g_library.Answer(kWriteAnswers), std::vector<uint8_t>(buffer, buffer + size)};
    g_fake.writes.push_back(std::move(w));
    fuzz::g_library.written = true;
    return g_fake.writes.back().status;
}

TVX_STATUS TvxUpdateOptionRomEx(uint32_t handle, uint32_t, const uint8_t *buffer, uint32_t size, uint32_t region) {
    if (handle != kHandle || buffer == nullptr) return TVX_ERR_INVALID_PARAMETER;
    return FakeWrite(buffer, size, region);
}

TVX_STATUS TvxUpdateOptionRomEx2(uint32_t handle, uint32_t, const uint8_t *buffer, uint32_t size, uint32_t region) {
    if (handle != kHandle || buffer == nullptr) return TVX_ERR_INVALID_PARAMETER;
    return FakeWrite(buffer, size, region);
}

} // extern "C"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz::Silence();
    setenv("TARNIK_NO_SLEEP", "1", 1);
    fuzz::g_library.Configure(kHandle, kSsvid, kSsdid, kReadAnswers);
    g_images[0] = imagekit::BuildMultiboot(imagekit::MultibootSpec{});
    std::vector<uint8_t> boot = imagekit::BuildChain(imagekit::BootChainSpecs("2532", 0x2532, {}, true, true, true));
    boot.resize(imagekit::kBootRegionSize, 0xFF);
    g_images[1] = boot;
    g_images[2] = imagekit::BuildFirmware(imagekit::FirmwareSpec{});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    g_fake = Fake{};
    fuzz::g_library.Reset(in);

    // The layout: the 1 MiB multi-boot layout, the 23xx one, or entries of
    // the input's choosing.
    const uint8_t layoutKind = in.ConsumeIntegralInRange<uint8_t>(0, 2);
    if (layoutKind == 0) {
        g_fake.layout = {{0x07, 0x40000}, {0x14, 0x200}, {0x01, 0x40000}, {0xFF, 0x100000}};
    } else if (layoutKind == 1) {
        g_fake.layout = {{0x07, 0x20000}, {0xFF, 0x20000}};
    } else {
        const size_t n = in.ConsumeIntegralInRange<size_t>(0, 6);
        for (size_t i = 0; i < n; ++i) {
            const uint32_t code = in.ConsumeBool() ? in.PickValueInArray(kCodes) : in.ConsumeIntegral<uint32_t>();
            const uint32_t sz =
                in.ConsumeBool() ? in.PickValueInArray(kSizes) : in.ConsumeIntegralInRange<uint32_t>(0, kMaxRegion);
            g_fake.layout.push_back({code, sz});
        }
    }

    // The image and the request word.
    const uint8_t imageKind = in.ConsumeIntegralInRange<uint8_t>(0, 3);
    static const char *const kWords[] = {"all", "boot", "fw", nullptr, "ALL"};
    const char *word = in.PickValueInArray(kWords);
    std::vector<uint8_t> image;
    if (imageKind < 3)
        image = fuzz::MutatedImage(in, g_images[imageKind]);
    else
        image = fuzz::RawImage(in);
    const std::string path = fuzz::WriteScratch("image.bin", image.data(), image.size());

    TVXDevice device{};
    device.handle = kHandle;
    device.instance = 0;
    device.chipProperty.PciDeviceId = 0x2532;
    device.chipProperty.SubsysVendorId = kSsvid;
    device.chipProperty.SubsysDeviceId = kSsdid;
    std::snprintf(device.nodeProperty.Model, sizeof device.nodeProperty.Model, "CXR2562");

    if (addUserOptionROMRequest(word, path.c_str()) != 0) {
        freeUserOptionROMReq();
        return 0;
    }
    const int result = OptionROMRegionUpdate(&device, path.c_str());
    const uint32_t request = g_ptrOptionROMRequest != nullptr ? g_ptrOptionROMRequest->Region : 0;
    freeUserOptionROMReq();
    // Each value the update read last before writing must have been read:
    // a read still answering "resetting" when the program moved on was
    // given up on, a failure as well.
    const auto &writes = g_fake.writes;
    fuzz::g_library.CheckNoWriteAfterFailedRead();

    // What the writes must carry: the image patched for this adapter over
    // the region's current contents.
    std::vector<uint8_t> patched = image;
    OptionROMRequest copy{};
    copy.Region = request;
    OptionROMRequest *saved = g_ptrOptionROMRequest;
    g_ptrOptionROMRequest = &copy;
    const int valid = validateUpdateMultibootOptionROM(kSsdid, kSsvid, patched, device.nodeProperty.Model, 0x2532);
    g_ptrOptionROMRequest = saved;
    if (valid != 0 && valid != OPTROM_VALID) FUZZ_CHECK(writes.empty());

    std::vector<uint8_t> composite;
    if (auto it = g_fake.readBack.find(request); it != g_fake.readBack.end()) composite = it->second;
    if (composite.size() < patched.size()) composite.resize(patched.size());
    if (!patched.empty()) std::memcpy(composite.data(), patched.data(), patched.size());

    bool failedWrite = false;
    for (const Write &w : writes) {
        FUZZ_CHECK(!failedWrite); // nothing after a failed write
        const bool at0 = w.size <= composite.size() && std::memcmp(w.data.data(), composite.data(), w.size) == 0;
        const bool atFw = kFwOffset + w.size <= composite.size() &&
                          std::memcmp(w.data.data(), composite.data() + kFwOffset, w.size) == 0;
        FUZZ_CHECK(at0 || atFw);
        if (w.status != TVX_STATUS_OK && w.status != TVX_ERR_RESET_DISABLED && !IsReset(w.status)) failedWrite = true;
    }
    if (result == OPTROM_OK || result == OPTROM_OK_RESET_DISABLED) {
        FUZZ_CHECK(!writes.empty() && !failedWrite);
        const uint32_t last = writes.back().status;
        FUZZ_CHECK(last == (result == OPTROM_OK ? TVX_STATUS_OK : TVX_ERR_RESET_DISABLED));
    }
    if (failedWrite) FUZZ_CHECK(result != OPTROM_OK && result != OPTROM_OK_RESET_DISABLED);
    return 0;
}
