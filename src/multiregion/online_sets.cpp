#include "multiregion/online_sets.h"

#include <algorithm>
#include <cstring>

#include "app/output.h"
#include "image/helpers.h"
#include "inventory/cxrtype.h"

namespace {

constexpr uint32_t kFenwarSequence[] = {0x9E, 0x07, 0xE1, 0xD3, 0xD1, 0x67, 0x01, 0x14, 0x16, 0xD4, 0xD6};
constexpr uint32_t kFenwarWritten[2][FENWAR_WRITTEN_SLOTS] = {
    {0x9E, 0x07, 0xE1, 0xD3, 0xD1, 0x67, 0x01, 0x95, 0x96, 0x14, 0x16, 0xD4, 0xD6},
    {0x9F, 0x09, 0xE1, 0xD3, 0xD1, 0x68, 0x02, 0x95, 0x96, 0x50, 0x52, 0xD8, 0xDA},
};
constexpr uint32_t kStatusOrder[2][IMAGE_STATUS_SLOTS] = {{0x95, 0x96}, {0x96, 0x95}};
constexpr uint32_t kFenwarVpd[FENWAR_VPD_SLOTS] = {0x14, 0x16, 0xD4, 0xD6};
constexpr uint32_t kZultSequence[2][16] = {
    {0x9E, 0x07, 0x11, 0xD2, 0xD1, 0xCF, 0x13, 0x101, 0xD3, 0x102, 0x103, 0xBA, 0x01, 0xDF, 0x95, 0x125},
    {0x9F, 0x09, 0x0A, 0x105, 0xF1, 0x106, 0x107, 0x108, 0xF0, 0x109, 0x10A, 0x10B, 0x02, 0x211, 0x96, 0x126},
};

// Regions a Fenwar adapter keeps in two copies: (set 1, set 2).
constexpr uint32_t kFenwarPairs[][2] = {{0x01, 0x02}, {0x07, 0x09}, {0x66, 0x67}, {0x9E, 0x9F}, {0xE1, 0xE5}};
// Regions a Zult adapter keeps in two copies.
constexpr uint32_t kZultPairs[][2] = {{0x01, 0x02},  {0x07, 0x09},   {0x11, 0x0A},   {0x13, 0x107}, {0x9E, 0x9F},
                                      {0xBA, 0x10B}, {0xCF, 0x106},  {0xD1, 0xF1},   {0xD2, 0x105}, {0xD3, 0xF0},
                                      {0xDF, 0x124}, {0x101, 0x108}, {0x102, 0x109}, {0x103, 0x10A}};

void Fill(const char *name, uint32_t *seq, size_t count, std::span<const uint32_t> list) {
    for (size_t i = 0; i < count; ++i) {
        seq[i] = i < list.size() ? list[i] : 0;
        OutputLevelMessage(LEVEL_DEBUG, "%s: %zu: 0x%x", name, i, seq[i]);
    }
}

template <size_t N> int SetOf(const uint32_t (&pairs)[N][2], uint32_t region) {
    for (const auto &p : pairs) {
        if (p[0] == region) return 1;
        if (p[1] == region) return 2;
    }
    return 0;
}

std::array<uint8_t, IMAGE_STATUS_RECORD_SIZE> RecordCopy(std::span<const uint8_t> in) {
    std::array<uint8_t, IMAGE_STATUS_RECORD_SIZE> out{};
    std::copy_n(in.begin(), std::min(in.size(), out.size()), out.begin());
    return out;
}

// The record as it is written: a fresh header when it had none, then the
// mask bit and (when given) the generation, and its checksum.
void Stamp(std::array<uint8_t, IMAGE_STATUS_RECORD_SIZE> &rec, bool valid, bool active, const uint16_t *generation) {
    if (!valid) resetImageStatusHeader(rec);
    CoreSetImageStatusMask(rec, active);
    if (generation != nullptr) CoreSetImageStatusGenerationNumber(rec, *generation);
    CoreCalculateChecksum32(rec, IMAGE_STATUS_RECORD_SIZE, IMAGE_STATUS_OFF_CHECKSUM);
}

} // namespace

void InitFenwarFlashUpdateSequence(uint32_t *seq, size_t count) {
    Fill("InitFenwarFlashUpdateSequence", seq, std::min(count, FENWAR_SEQUENCE_SLOTS), kFenwarSequence);
}

void InitFenwarSecuredOnlineFlashUpdateSequence(uint32_t *seq, size_t count, int set) {
    Fill("InitFenwarSecuredOnlineFlashUpdateSequence", seq, std::min(count, FENWAR_WRITTEN_SLOTS),
         kFenwarWritten[set == 2 ? 1 : 0]);
}

void InitImageStatusFlashUpdateSequence(uint32_t *seq, size_t count, int set) {
    Fill("InitImageStatusFlashUpdateSequence", seq, std::min(count, IMAGE_STATUS_SLOTS),
         kStatusOrder[set == 2 ? 1 : 0]);
}

void InitFenwarVpdUpdateSequence(uint32_t *seq, size_t count) {
    Fill("InitFenwarVpdUpdateSequence", seq, std::min(count, FENWAR_VPD_SLOTS), kFenwarVpd);
}

void InitOnlineFlashUpdateSequenceForZultAdapter(uint32_t *seq, size_t count, int set) {
    Fill("InitOnlineFlashUpdateSequenceForZultAdapter", seq, std::min(count, ZULT_SEQUENCE_SLOTS),
         kZultSequence[set == 2 ? 1 : 0]);
}

int FenwarRegionSet(uint32_t region) { return SetOf(kFenwarPairs, region); }
int ZultRegionSet(uint32_t region) { return SetOf(kZultPairs, region); }

uint32_t FenwarTargetRegion(uint32_t code, int set) {
    const uint32_t target = GetActualRegionToUpdate(code, set);
    const int owner = FenwarRegionSet(target);
    if (owner != 0 && owner != set) {
        OutputLevelMessage(LEVEL_DEBUG, "FenwarTargetRegion: Region 0x%x of code 0x%x belongs to set %d, not set %d",
                           target, code, owner, set);
        return 0;
    }
    return target;
}

FenwarSetChoice ChooseFenwarSet(std::span<const uint8_t> primary, std::span<const uint8_t> secondary) {
    FenwarSetChoice c{};
    c.primary = RecordCopy(primary);
    c.secondary = RecordCopy(secondary);
    const ImageStatusView p = CoreViewImageStatus(c.primary, IMAGE_STATUS_SIGNATURE_FENWAR);
    const ImageStatusView s = CoreViewImageStatus(c.secondary, IMAGE_STATUS_SIGNATURE_FENWAR);

    // The table rule, kept for the log: it can name the running set (an
    // invalid secondary record, or equal masks with equal generations).
    if (!p.valid || !s.valid)
        c.tableSet = 1;
    else if (p.mask == 1 && s.mask == 0)
        c.tableSet = 2;
    else if (p.mask == 0 && s.mask == 1)
        c.tableSet = 1;
    else
        c.tableSet = s.generation < p.generation ? 2 : 1;

    // The set the adapter runs is never written.
    c.runningSet = CoreDecideActiveSet(p, s, nullptr);
    c.writeSet = c.runningSet == 1 ? 2 : 1;
    c.newGeneration = CoreNextImageStatusGeneration(p.generation, s.generation);
    OutputLevelMessage(LEVEL_DEBUG,
                       "ChooseFenwarSet: primary %s mask=%u gen=%u, secondary %s mask=%u gen=%u: running set %d, "
                       "writing set %d (table %d), generation %u",
                       p.valid ? "valid" : "invalid", p.mask, p.generation, s.valid ? "valid" : "invalid", s.mask,
                       s.generation, c.runningSet, c.writeSet, c.tableSet, c.newGeneration);

    const bool writePrimary = c.writeSet == 1;
    Stamp(c.primary, p.valid, writePrimary, writePrimary ? &c.newGeneration : nullptr);
    Stamp(c.secondary, s.valid, !writePrimary, writePrimary ? nullptr : &c.newGeneration);
    return c;
}

FenwarOfflineRecords FenwarOfflineStatusRecords(std::span<const uint8_t> primary, std::span<const uint8_t> secondary) {
    FenwarOfflineRecords r{};
    r.primary = RecordCopy(primary);
    r.secondary = RecordCopy(secondary);
    const ImageStatusView p = CoreViewImageStatus(r.primary, IMAGE_STATUS_SIGNATURE_FENWAR);
    const ImageStatusView s = CoreViewImageStatus(r.secondary, IMAGE_STATUS_SIGNATURE_FENWAR);
    if (p.valid && p.mask == 1 && s.valid && s.mask == 0) {
        r.state = 1;
        r.change = false;
        OutputLevelMessage(LEVEL_DEBUG, "Primary region is active");
        return r;
    }
    r.change = true;
    uint16_t gp = p.generation;
    uint16_t gs = s.generation;
    if (p.mask == 0 && s.mask == 1) {
        r.state = 2;
        OutputLevelMessage(LEVEL_DEBUG, "Secondary region is active");
        gp = gs;
        gs = static_cast<uint16_t>(gs > 0 ? gs - 1 : 0);
    } else {
        r.state = 0;
        OutputLevelMessage(LEVEL_DEBUG, "Adapter is in unknown state!");
        const bool equal = gp == gs;
        gp = std::max(gp, gs);
        if (equal) gp = static_cast<uint16_t>(gp + 1);
        if (gp > IMAGE_STATUS_MAX_GENERATION || gp == 0) gp = 1;
    }
    Stamp(r.primary, p.valid, true, &gp);
    Stamp(r.secondary, s.valid, false, &gs);
    return r;
}

int GetFirmwareAttribute(std::span<const uint8_t> firmware, uint32_t expectedSupport, uint64_t *attributes) {
    if (attributes != nullptr) *attributes = 0;
    uint32_t attr = 0;
    uint32_t support = 0;
    uint32_t extended = 0;
    if (!ReadBE32(firmware, 28, attr) || !ReadBE32(firmware, 32, support) || !ReadBE32(firmware, 36, extended)) {
        OutputLevelMessage(LEVEL_DEBUG, "GetFirmwareAttribute: Firmware header too short (%zu bytes)", firmware.size());
        return -1;
    }
    OutputLevelMessage(LEVEL_DEBUG, "GetFirmwareAttribute: attribute=0x%x supported=0x%x extended=0x%x", attr, support,
                       extended);
    if (support == expectedSupport && attributes != nullptr)
        *attributes = (static_cast<uint64_t>(extended) << 32) | attr;
    return 0;
}

FirmwareAttributeBlock MakeFirmwareAttributeBlock(uint64_t attributes) {
    FirmwareAttributeBlock block{};
    for (size_t i = 0; i < 8; ++i)
        block[i] = static_cast<uint8_t>(attributes >> (8 * i));
    return block;
}

int CorePreserveFCBrdCfgData(const TVXDevice *device, std::span<const uint8_t> running, std::span<uint8_t> fresh) {
    const char *fn = "CorePreserveFCBrdCfgData";
    OutputLevelMessage(LEVEL_DEBUG, "%s: Enter...", fn);
    if (device == nullptr) return -1;
    if (GetCxrType(device) < 25) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: Unsupported operation", fn);
        return -1;
    }
    const uint16_t ssdid = device->chipProperty.SubsysDeviceId;
    const uint16_t ssvid = device->chipProperty.SubsysVendorId;
    OutputLevelMessage(LEVEL_DEBUG, "%s: subsysDeviceId=0x%X", fn, ssdid);
    OutputLevelMessage(LEVEL_DEBUG, "%s: subsysVendorId=0x%X", fn, ssvid);
    // Both blocks must hold every field this routine touches.
    constexpr size_t kFieldsEnd = 3702 + 1;
    if (running.size() < kFieldsEnd) return -1;
    uint32_t sig = 0;
    uint32_t len = 0;
    ReadLE32(running, FBC_OFF_SIGNATURE, sig);
    ReadLE32(running, FBC_OFF_LENGTH, len);
    OutputLevelMessage(LEVEL_DEBUG, "%s: HBA FBC Signature=0x%X", fn, sig);
    OutputLevelMessage(LEVEL_DEBUG, "%s: HBA FBC version %d.%d.%d.%d", fn, running[7], running[6], running[5],
                       running[4]);
    OutputLevelMessage(LEVEL_DEBUG, "%s: HBA FBC data length = 0x%X", fn, len * 4u);
    if (fresh.size() < kFieldsEnd) return -1;
    uint32_t fsig = 0;
    uint32_t flen = 0;
    uint32_t fsum = 0;
    ReadLE32(fresh, FBC_OFF_SIGNATURE, fsig);
    ReadLE32(fresh, FBC_OFF_LENGTH, flen);
    ReadLE32(fresh, FBC_OFF_CHECKSUM, fsum);
    OutputLevelMessage(LEVEL_DEBUG, "%s: File FBC Signature=0x%X", fn, fsig);
    OutputLevelMessage(LEVEL_DEBUG, "%s: File FBC version %d.%d.%d.%d", fn, fresh[7], fresh[6], fresh[5], fresh[4]);
    OutputLevelMessage(LEVEL_DEBUG, "%s: File FBC data length = 0x%X", fn, flen * 4u);
    OutputLevelMessage(LEVEL_DEBUG, "%s: File FBC Check sum = 0x%X", fn, fsum);
    if (fsig != FBC_SIGNATURE) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: Signature not match!", fn);
        return -1;
    }
    // The checksum covers the data length: it must lie in the block.
    const uint64_t dataBytes = static_cast<uint64_t>(flen) * 4u;
    if (dataBytes < 12 || dataBytes > fresh.size()) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: Data length 0x%llX outside the block (0x%zX)", fn,
                           static_cast<unsigned long long>(dataBytes), fresh.size());
        return -1;
    }

    // A running block that is no board configuration has no settings to
    // keep: its bytes would only spoil the new block.
    const bool keep = sig == FBC_SIGNATURE && static_cast<uint64_t>(len) * 4u >= 12 &&
                      static_cast<uint64_t>(len) * 4u <= running.size() &&
                      CoreValidateChecksum32(running, static_cast<size_t>(len) * 4u) == 0;
    if (!keep) OutputLevelMessage(LEVEL_DEBUG, "%s: HBA FBC not valid, its settings are not carried over", fn);

    auto show = [fn](const char *what, size_t off, unsigned hba, unsigned file) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: HBA %s[0x%x]= 0x%X", fn, what, static_cast<unsigned>(off), hba);
        OutputLevelMessage(LEVEL_DEBUG, "%s: File %s[0x%x]= 0x%X", fn, what, static_cast<unsigned>(off), file);
    };
    if (keep) {
        show("SFP Temp Poll Time", FBC_OFF_SFP_POLL_TIME, running[FBC_OFF_SFP_POLL_TIME], fresh[FBC_OFF_SFP_POLL_TIME]);
        fresh[FBC_OFF_SFP_POLL_TIME] = running[FBC_OFF_SFP_POLL_TIME];
        show("SFP Temp Poll Enable", FBC_OFF_SFP_POLL_ENABLE, running[FBC_OFF_SFP_POLL_ENABLE],
             fresh[FBC_OFF_SFP_POLL_ENABLE]);
        fresh[FBC_OFF_SFP_POLL_ENABLE] =
            static_cast<uint8_t>((fresh[FBC_OFF_SFP_POLL_ENABLE] & ~1u) | (running[FBC_OFF_SFP_POLL_ENABLE] & 1u));
        for (size_t i = 0; i < 4; ++i) {
            const size_t b = FBC_OFF_BBCR[i];
            show("BBCR", b, running[b], fresh[b]);
            fresh[b] = running[b];
            const size_t f = FBC_OFF_FEC[i];
            show("FEC", f, running[f], fresh[f]);
            fresh[f] = static_cast<uint8_t>((fresh[f] & ~2u) | (running[f] & 2u));
        }
    }

    WriteLE32(fresh, FBC_OFF_CHECKSUM, 0);
    WriteLE16(fresh, FBC_OFF_SSVID, ssvid);
    WriteLE16(fresh, FBC_OFF_SSDID, ssdid);
    const uint32_t sum = CoreCalculateChecksum32(fresh, static_cast<size_t>(dataBytes), FBC_OFF_CHECKSUM);
    OutputLevelMessage(LEVEL_DEBUG, "%s: File FBC new checksum 0x%x", fn, sum);
    const int st = CoreValidateChecksum32(fresh, static_cast<size_t>(dataBytes));
    if (st == 0)
        OutputLevelMessage(LEVEL_DEBUG, "%s: Checksum OK (%d).", fn, st);
    else
        OutputLevelMessage(LEVEL_DEBUG, "%s: Checksum error (%d)!", fn, st);
    OutputLevelMessage(LEVEL_DEBUG, "%s: return %d", fn, st);
    return st;
}
