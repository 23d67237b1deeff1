#include "image/imgversion.h"

#include <cstring>

#include "app/output.h"
#include "image/helpers.h"
#include "image/ilt.h"
#include "image/pcirom.h"
#include "oss/oss.h"

// ---- Boot code chains ----

namespace {

// Where one protocol's boot code versions go, by PCI code type (0 x86 BIOS,
// 1 FCode, 2 PXE, 3 EFI). A null slot: the protocol has no image of that
// code type.
template <typename Record> struct BootSlots {
    uint16_t deviceId;
    BootCodeVersion Record::*byCodeType[4];
};

using Rec = ImageVersionRecord;
using ZRec = ZultImageVersionRecord;

// Converged protocols: BIOS and PXE images share the BIOS field.
constexpr BootSlots<Rec> Nic(uint16_t id) { return {id, {&Rec::nicBios, &Rec::nicFcode, &Rec::nicBios, &Rec::nicEfi}}; }
constexpr BootSlots<Rec> Iscsi(uint16_t id) {
    return {id, {&Rec::iscsiBios, &Rec::iscsiFcode, &Rec::iscsiBios, &Rec::iscsiEfi}};
}
constexpr BootSlots<Rec> Fc(uint16_t id) { return {id, {&Rec::fcBios, &Rec::fcFcode, &Rec::fcBios, &Rec::fcEfi}}; }
constexpr BootSlots<Rec> Fcoe(uint16_t id) {
    return {id, {&Rec::fcoeBios, &Rec::fcoeFcode, &Rec::fcoeBios, &Rec::fcoeEfi}};
}
constexpr BootSlots<ZRec> ZultFc(uint16_t id) {
    return {id, {&ZRec::fcBios, &ZRec::fcFcode, &ZRec::fcBios, &ZRec::fcEfi}};
}

// First-generation adapters keep their FCoE boot code in the FC fields and
// carry no PXE image for FCoE.
const BootSlots<Rec> kFirstGenSlots[] = {
    Nic(0x8000),
    {0x8001, {&Rec::fcBios, &Rec::fcFcode, nullptr, &Rec::fcEfi}},
};
const BootSlots<Rec> kLarkSlots[] = {Nic(0x8020), Fc(0x8021), Iscsi(0x8022)};
const BootSlots<Rec> kTeskSlots[] = {Nic(0x8030), Fcoe(0x8031), Iscsi(0x8032), Fc(0x2031)};
const BootSlots<Rec> kFenwarSlots[] = {Fc(0x2071), Fc(0x2171), Fc(0x2261), Fc(0x2271), Fc(0x2371),
                                       Fc(0x2871), Fc(0x2971), Fc(0x2A61), Fc(0x2B61), Fc(0x2081)};
const BootSlots<ZRec> kZultSlots[] = {
    ZultFc(0x2432), ZultFc(0x2532), ZultFc(0x8001), ZultFc(0x8021), ZultFc(0x8031), ZultFc(0x2031), ZultFc(0x2071),
    ZultFc(0x2171), ZultFc(0x2271), ZultFc(0x2371), ZultFc(0x2871), ZultFc(0x2971), ZultFc(0x2261), ZultFc(0x2A61),
    ZultFc(0x2B61), ZultFc(0x2081), ZultFc(0x2281), ZultFc(0x2089), ZultFc(0x2289),
};

template <typename Record>
BootCodeVersion Record::*FindSlot(std::span<const BootSlots<Record>> table, uint16_t deviceId, uint8_t codeType) {
    for (const BootSlots<Record> &row : table)
        if (row.deviceId == deviceId) return row.byCodeType[codeType];
    return nullptr;
}

template <typename Record>
int WalkBootChain(const char *name, const char *headerFailure, std::span<const BootSlots<Record>> table,
                  std::span<const uint8_t> chain, Record *record, uint16_t deviceId) {
    if (chain.empty() || record == nullptr) {
        OutputLevelMessage(LEVEL_DEBUG, "%s: no boot code image", name);
        return BOOTVER_UNKNOWN_IMAGE;
    }
    size_t offset = 0;
    // Every image advances the walk by at least one 512-byte block, so the
    // buffer bounds the number of images.
    for (int imageNumber = 0;; ++imageNumber) {
        PciRomHeader hdr;
        PciDataStructure data;
        if (!ReadPciRomHeader(chain, offset, hdr) || hdr.signature != ROM_SIGNATURE ||
            !ReadPciDataStructure(chain, offset, data) || data.signature != PCIR_SIGNATURE_VALUE ||
            !InBounds(chain.size(), offset + hdr.pcirOffset, PCIR_MIN_SIZE)) {
            OutputLevelMessage(LEVEL_DEBUG, "%s: %s", name, headerFailure);
            return BOOTVER_BAD_HEADER;
        }
        if (data.deviceId == 1 || data.deviceId == 2 || data.deviceId == 3 || data.codeType > PCI_CODE_EFI) {
            OutputLevelMessage(LEVEL_DEBUG, "%s: %s", name, headerFailure);
            return BOOTVER_BAD_HEADER;
        }
        BootCodeVersion Record::*slot = FindSlot(table, deviceId, data.codeType);
        if (slot == nullptr) {
            OutputLevelMessage(LEVEL_DEBUG, "%s: Invalid BOOTCODE Type %04X", name, deviceId);
            return BOOTVER_BAD_DEVICE;
        }
        (record->*slot).major = data.revMajor;
        (record->*slot).minor = data.revMinor;

        size_t headerLen = chain.size() - offset < PCI_FILE_RECORD ? chain.size() - offset : PCI_FILE_RECORD;
        size_t dataAt = offset + hdr.pcirOffset;
        size_t dataLen = chain.size() - dataAt < PCI_FILE_RECORD ? chain.size() - dataAt : PCI_FILE_RECORD;
        PrintDataStructure(chain.subspan(offset, headerLen), chain.subspan(dataAt, dataLen), imageNumber);

        if (data.indicator & PCIR_LAST_IMAGE) return BOOTVER_OK;
        size_t length = static_cast<size_t>(data.imageLength) * PCI_BLOCK;
        if (length == 0 || !InBounds(chain.size(), offset, length)) {
            // A zero length would read the same image again; a length past
            // the buffer leaves no next image.
            OutputLevelMessage(LEVEL_DEBUG, "%s: %s", name, headerFailure);
            return BOOTVER_BAD_HEADER;
        }
        offset += length;
    }
}

constexpr const char *kHeaderFailure = "GetHeaderAndData failed!";

} // namespace

int GetImageVersions(std::span<const uint8_t> chain, ImageVersionRecord *record, uint16_t deviceId) {
    return WalkBootChain<Rec>("GetImageVersions", "Unable to read PCI header and data", kFirstGenSlots, chain, record,
                              deviceId);
}

int GetLarkImageVersions(std::span<const uint8_t> chain, ImageVersionRecord *record, uint16_t deviceId) {
    return WalkBootChain<Rec>("GetLarkImageVersions", kHeaderFailure, kLarkSlots, chain, record, deviceId);
}

int GetTeskImageVersions(std::span<const uint8_t> chain, ImageVersionRecord *record, uint16_t deviceId) {
    return WalkBootChain<Rec>("GetTeskImageVersions", kHeaderFailure, kTeskSlots, chain, record, deviceId);
}

int GetFenwarImageVersions(std::span<const uint8_t> chain, ImageVersionRecord *record, uint16_t deviceId) {
    return WalkBootChain<Rec>("GetFenwarImageVersions", kHeaderFailure, kFenwarSlots, chain, record, deviceId);
}

int GetImageBootCodesVersion(std::span<const uint8_t> chain, ZultImageVersionRecord *record, uint16_t deviceId) {
    return WalkBootChain<ZRec>("GetImageBootCodesVersion", kHeaderFailure, kZultSlots, chain, record, deviceId);
}

// ---- RISC firmware header ----

int GetFirmwareHeader(std::span<const uint8_t> component, RiscFirmwareHeader *header) {
    if (header == nullptr || component.size() < RISC_FW_HEADER_SIZE) {
        OutputLevelMessage(LEVEL_DEBUG, "GetFirmwareHeader: component too short (%zu bytes)", component.size());
        return -1;
    }
    RiscFirmwareHeader h{};
    ReadBE32(component, 0, h.preamble0);
    ReadBE32(component, 4, h.preamble1);
    ReadBE32(component, 8, h.startAddress);
    ReadBE32(component, 12, h.addressLength);
    ReadBE32(component, 16, h.versionMajor);
    ReadBE32(component, 20, h.versionMinor);
    ReadBE32(component, 24, h.versionSubMinor);
    ReadBE32(component, 28, h.attribute);
    ReadBE32(component, 32, h.supportedValue);
    ReadBE32(component, 36, h.extendedAttribute);
    ReadBE32(component, 116, h.postAmble);
    *header = h;
    return 0;
}

void GetRiscVersion(const RiscFirmwareHeader &header, ComponentVersion *version) {
    ComponentVersion v{static_cast<uint8_t>(header.versionMajor), static_cast<uint8_t>(header.versionMinor),
                       static_cast<uint8_t>(header.versionSubMinor)};
    OutputLevelMessage(LEVEL_DEBUG, "GetRiscVersion: %x.%x.%x (%d.%d.%d)", v.major, v.minor, v.subMinor, v.major,
                       v.minor, v.subMinor);
    if (version != nullptr) *version = v;
}

int GetRiscFirmwareVersion(std::span<const uint8_t> component, ComponentVersion *version) {
    RiscFirmwareHeader h{};
    if (GetFirmwareHeader(component, &h) != 0) return -1;
    GetRiscVersion(h, version);
    return 0;
}

// ---- Time stamp of a combined image ----

int UdpateTimeStamp(std::span<uint8_t> flashBuffer, std::span<uint8_t> ilt) {
    uint16_t tableLength = 0, n = 0;
    if (!ReadLE16(ilt, ILT_HDR_TABLE_LENGTH, tableLength) || !ReadLE16(ilt, ILT_HDR_NUM_ENTRIES, n) ||
        ilt.size() < ILT_HEADER_SIZE) {
        OutputLevelMessage(LEVEL_DEBUG, "UdpateTimeStamp: no ILT");
        return 0;
    }
    if (tableLength > ilt.size() || tableLength > flashBuffer.size()) {
        OutputLevelMessage(LEVEL_DEBUG, "UdpateTimeStamp: table length 0x%x does not fit (ILT 0x%zx, flash 0x%zx)",
                           tableLength, ilt.size(), flashBuffer.size());
        return 0;
    }
    WriteLE16(ilt, ILT_HDR_CHECKSUM, 0);
    if (tableLength > 0 && flashBuffer.data() != ilt.data()) std::memmove(flashBuffer.data(), ilt.data(), tableLength);
    std::span<uint8_t> table = flashBuffer.first(tableLength);

    std::tm local{};
    bool haveTime = OSSGetLocalTime(local);
    // The stamp is written only inside the copied table: an entry beyond it
    // would land on component data that follows the table in the buffer.
    size_t stampAt = ILT_HEADER_SIZE + ILT_ENTRY_SIZE * (n == 0 ? 0 : n - 1u);
    bool stampInTable = n >= 1 && InBounds(table.size(), stampAt, ILT_ENTRY_SIZE);
    if (haveTime && stampInTable) {
        WriteLE16(table, stampAt + ILT_TS_YEAR, static_cast<uint16_t>(local.tm_year + 1900));
        WriteU8(table, stampAt + ILT_TS_MONTH, static_cast<uint8_t>(local.tm_mon + 1));
        WriteU8(table, stampAt + ILT_TS_DAY, static_cast<uint8_t>(local.tm_mday));
        WriteU8(table, stampAt + ILT_TS_HOUR, static_cast<uint8_t>(local.tm_hour));
        WriteU8(table, stampAt + ILT_TS_MINUTE, static_cast<uint8_t>(local.tm_min));
        WriteU8(table, stampAt + ILT_TS_ZERO, 0);
        WriteU8(table, stampAt + ILT_TS_FOUR, 4);
    } else if (!stampInTable) {
        OutputLevelMessage(LEVEL_DEBUG, "UdpateTimeStamp: time-stamp entry lies outside the table");
    }

    uint16_t checksum = static_cast<uint16_t>(0u - HLPR_Sum16(table, tableLength / 2u));
    WriteLE16(ilt, ILT_HDR_CHECKSUM, checksum);
    // The copy carries the checksum too, so the table in flash sums to zero.
    WriteLE16(table, ILT_HDR_CHECKSUM, checksum);
    if (haveTime)
        OutputLevelMessage(LEVEL_DEBUG, "UdpateTimeStamp: %02d/%02d/%04d %02d:%02d", local.tm_mon + 1, local.tm_mday,
                           local.tm_year + 1900, local.tm_hour, local.tm_min);
    return 1;
}
