// Data-file kit: writes configuration data files (PEP board config,
// firmware preload table, converged board config) in their text grammar,
// and the region image each lays down, for tests, simulated hosts and the
// demo. Written from the file format alone; it shares no code with the
// program's parser.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace datakit {

struct Field {
    std::string desc;
    bool isString = false;
    unsigned bits = 0;       // numeric width
    bool decimalMax = false; // range max written in decimal
    uint32_t value = 0;
    size_t length = 0;     // string: declared length
    std::string text;      // string: text in quotes
    bool checksum = false; // value is filled in by the writer
};

inline Field Num(const std::string &desc, unsigned bits, uint32_t value, bool decimalMax = false) {
    Field f;
    f.desc = desc;
    f.bits = bits;
    f.value = value;
    f.decimalMax = decimalMax;
    return f;
}

inline Field Str(const std::string &desc, size_t length, const std::string &text) {
    Field f;
    f.desc = desc;
    f.isString = true;
    f.length = length;
    f.text = text;
    return f;
}

inline Field Checksum(const std::string &desc = "Checksum") {
    Field f = Num(desc, 32, 0);
    f.checksum = true;
    return f;
}

inline uint32_t MaxOf(unsigned bits) { return bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1u; }

// One line of the file.
inline std::string Line(const Field &f) {
    char buf[64];
    if (f.isString) {
        std::snprintf(buf, sizeof buf, "[\"%zu\"]", f.length);
        return f.desc + " " + buf + " = \"" + f.text + "\"";
    }
    if (f.decimalMax)
        std::snprintf(buf, sizeof buf, "[0-%u] = %X", MaxOf(f.bits), f.value);
    else
        std::snprintf(buf, sizeof buf, "[0-%Xh] = %02X", MaxOf(f.bits), f.value);
    return f.desc + " " + buf;
}

// Lays the fields into image from offset 0: numeric values least
// significant bit first into a running bit stream, strings as bytes (zeros
// unless the text has the declared length). Returns the bytes laid down
// and the offset of the checksum field (or -1).
struct Laid {
    size_t bytes = 0;
    long checksumAt = -1;
};

inline Laid Lay(const std::vector<Field> &fields, std::vector<uint8_t> &image) {
    Laid out;
    uint64_t bitPos = 0; // absolute bit position of the stream
    size_t bytePos = 0;  // next byte of whole-byte output
    uint64_t acc = 0;
    unsigned accBits = 0;
    for (const Field &f : fields) {
        if (f.isString) {
            for (size_t i = 0; i < f.length; ++i) {
                uint8_t b = f.text.size() == f.length ? static_cast<uint8_t>(f.text[i]) : 0;
                if (bytePos < image.size()) image[bytePos] = b;
                ++bytePos;
            }
            continue;
        }
        if (f.checksum) out.checksumAt = static_cast<long>(bytePos);
        acc |= static_cast<uint64_t>(f.value) << accBits;
        accBits += f.bits;
        bitPos += f.bits;
        while (accBits >= 8) {
            if (bytePos < image.size()) image[bytePos] = static_cast<uint8_t>(acc);
            ++bytePos;
            acc >>= 8;
            accBits -= 8;
        }
    }
    (void)bitPos;
    out.bytes = bytePos;
    return out;
}

inline uint32_t Word(const std::vector<uint8_t> &b, size_t off) {
    uint32_t w = 0;
    for (size_t i = 0; i < 4; ++i)
        if (off + i < b.size()) w |= static_cast<uint32_t>(b[off + i]) << (8 * i);
    return w;
}

inline void PutWord(std::vector<uint8_t> &b, size_t off, uint32_t w) {
    for (size_t i = 0; i < 4; ++i)
        if (off + i < b.size()) b[off + i] = static_cast<uint8_t>(w >> (8 * i));
}

// Two's complement of the sum of the 32-bit words starting below length.
inline uint32_t NegSum(const std::vector<uint8_t> &b, size_t length) {
    uint32_t s = 0;
    for (size_t off = 0; off < length; off += 4)
        s += Word(b, off);
    return 0u - s;
}

struct DataFile {
    std::vector<std::string> comments;
    std::vector<Field> fields;
    std::vector<std::string> extraLines; // raw lines after the fields
    bool crlf = false;
};

inline std::string Text(const DataFile &d) {
    const char *eol = d.crlf ? "\r\n" : "\n";
    std::string s;
    for (const auto &c : d.comments)
        s += "; " + c + eol;
    for (const auto &f : d.fields)
        s += Line(f) + eol;
    for (const auto &l : d.extraLines)
        s += l + eol;
    return s;
}

// Sets the checksum field's value: two's complement of the words of the
// bytes laid down (the checksum field counted as 0).
inline void FillFileChecksum(std::vector<Field> &fields) {
    std::vector<uint8_t> image(1 << 20, 0);
    for (auto &f : fields)
        if (f.checksum) f.value = 0;
    Laid laid = Lay(fields, image);
    if (laid.checksumAt < 0) return;
    uint32_t sum = NegSum(image, laid.bytes);
    for (auto &f : fields)
        if (f.checksum) f.value = sum;
}

// ---- PEP board configuration ----
struct PepOptions {
    uint8_t version[4] = {1, 0, 0, 0}; // major, minor, sub-minor, build
    uint16_t ssvid = 0x1D7A;
    uint16_t ssdid = 0x0301;
    uint32_t signature = 0x5F4C545Fu;
    std::string name = "CXR27 PEP BRDCFG";
    bool checksumLine = true;
    std::optional<uint32_t> checksum; // wrong value on purpose
};

inline std::vector<Field> PepFields(const PepOptions &o) {
    std::vector<Field> f = {
        Num("Signature", 32, o.signature),
        Num("Build Version Number", 8, o.version[3]),
        Num("SubMinor Version Number", 8, o.version[2]),
        Num("Minor Version Number", 8, o.version[1]),
        Num("Major Version Number", 8, o.version[0]),
        Num("Subsystem Vendor ID", 16, o.ssvid),
        Num("Subsystem Device ID", 16, o.ssdid),
    };
    if (o.checksumLine)
        f.push_back(Checksum("Image Checksum"));
    else
        f.push_back(Num("Reserved word", 32, 0));
    f.push_back(Str("Board Name", 16, o.name));
    f.push_back(Num("Port 1 Link Speed", 3, 5, true));
    f.push_back(Num("Port 1 Flags", 5, 0x1F));
    f.push_back(Num("Port 2 Data Rate", 4, 3));
    f.push_back(Num("Port 2 Mode", 4, 0xC));
    f.push_back(Num("Feature_Exclusive Mask", 8, 0x01));
    f.push_back(Num("Thermal Limit", 8, 95, true));
    f.push_back(Str("Reserved Area", 28, ""));
    FillFileChecksum(f);
    if (o.checksum)
        for (auto &x : f)
            if (x.checksum) x.value = *o.checksum;
    return f;
}

// ---- Firmware preload table ----
struct PreloadOptions {
    int cxrType = 21;               // 12, 15, 21 (24), 25
    uint8_t version[3] = {1, 2, 3}; // major, minor, sub-minor
    uint16_t ssvid = 0x1D7A;
    uint16_t ssdid = 0x0301;
    std::optional<uint32_t> signature; // default: the family's
    std::string serial = "PRELOAD0000001";
    bool checksumLine = true;
    std::optional<uint32_t> checksum;
};

inline uint32_t PreloadFamilySignature(int cxrType) {
    switch (cxrType) {
    case 12: return 0xCABA3821u;
    case 15: return 0xCABA4821u;
    case 25: return 0x5041554Cu;
    default: return 0xCABA8030u;
    }
}

// Text cut or padded with blanks to a string field's length.
inline std::string Fit(std::string text, size_t length) {
    text.resize(length, ' ');
    return text;
}

inline std::vector<Field> PreloadFields(const PreloadOptions &o) {
    const uint32_t sig = o.signature ? *o.signature : PreloadFamilySignature(o.cxrType);
    std::vector<Field> versions = {
        Num("File Version SubMinor", 8, o.version[2]),
        Num("File Version Minor", 8, o.version[1]),
        Num("File Version Major", 8, o.version[0]),
        Num("File Version Build", 8, 0),
    };
    std::vector<Field> ids = {
        Num("Length (dwords)", 16, 16),
        Num("Subsystem Vendor ID", 16, o.ssvid),
        Num("Subsystem Device ID", 16, o.ssdid),
        Num("No of Serdes Entries", 8, 4),
        Num("HostFECsupport", 1, 1, true),
        Num("BB_SC_N enable", 1, 0, true),
        Num("BB_SC_N", 4, 9),
        Num("Training Optical Local FEC Enable", 2, 2, true),
    };
    Field sum = o.checksumLine ? Checksum() : Num("Reserved word", 32, 0);
    std::vector<Field> f = {Num("Signature", 32, sig)};
    if (o.cxrType == 12 || o.cxrType == 15) {
        // signature, IDs, checksum, serial number, then the version bytes
        // at 24 (12) or 48 (15)
        f.insert(f.end(), ids.begin(), ids.end());
        f.push_back(sum);
        const size_t serialLength = o.cxrType == 12 ? 8 : 32;
        f.push_back(Str("Serial Number", serialLength, Fit(o.serial, serialLength)));
        f.insert(f.end(), versions.begin(), versions.end());
    } else {
        f.push_back(versions[3]);
        f.push_back(versions[0]);
        f.push_back(versions[1]);
        f.push_back(versions[2]);
        f.insert(f.end(), ids.begin(), ids.end());
        f.push_back(sum);
        f.push_back(Str("Serial Number", 16, Fit(o.serial, 16)));
    }
    for (int i = 0; i < 3; ++i)
        f.push_back(Num("Serdes Entry " + std::to_string(i), 32, 0x01020304u * static_cast<uint32_t>(i + 1)));
    f.push_back(Str("Reserved", 8, ""));
    FillFileChecksum(f);
    if (o.checksum)
        for (auto &x : f)
            if (x.checksum) x.value = *o.checksum;
    return f;
}

// ---- Converged (Tesk) board configuration ----
constexpr size_t kTeskArea = 0x5000;
constexpr size_t kTeskChecksum = 0x1C;
constexpr size_t kTeskMac = 0x400;
constexpr size_t kTeskSsid = 0x1800;

struct TeskOptions {
    uint8_t version[4] = {2, 1, 0, 0};
    uint32_t ssid[8] = {};
    uint64_t mac[16] = {}; // addresses as 48-bit numbers, 00:1D:7A:.. = 0x001D7A..
    std::optional<uint32_t> checksum;
};

inline std::vector<Field> TeskFields(const TeskOptions &o) {
    std::vector<Field> f = {
        Num("Signature", 32, 0x4B534554u),
        Num("Build Version Number", 8, o.version[3]),
        Num("SubMinor Version Number", 8, o.version[2]),
        Num("Minor Version Number", 8, o.version[1]),
        Num("Major Version Number", 8, o.version[0]),
        Num("Board Type", 16, 0x0026),
        Num("Board Revision", 16, 0x0003),
        Num("Feature_Exclusive Flags", 32, 0x00000011),
        Num("Port Count", 8, 2, true),
        Num("Port 1 Link Speed", 3, 5, true),
        Num("Port 1 Flags", 5, 0x1F),
        Num("Reserved half", 16, 0),
        Num("Link Config", 32, 0x00C0FFEE),
        Num("PCIe Config", 32, 0x00000842),
        Checksum("Area Checksum"),
        Str("Board Name", 32, "CXR8031 CONVERGED BOARD CONFIG 1"),
        Str("Reserved A", 512, ""),
        Str("Reserved B", 448, ""),
    };
    for (int i = 0; i < 16; ++i) {
        // Entries hold the address last byte first: as a little-endian
        // 64-bit number that is the address itself.
        f.push_back(Num("MAC Address " + std::to_string(i) + " Low", 32, static_cast<uint32_t>(o.mac[i])));
        f.push_back(Num("MAC Address " + std::to_string(i) + " High", 32, static_cast<uint32_t>(o.mac[i] >> 32)));
    }
    for (int i = 0; i < 9; ++i)
        f.push_back(Str("Reserved C" + std::to_string(i), 512, ""));
    f.push_back(Str("Reserved D", 384, ""));
    for (int i = 0; i < 8; ++i)
        f.push_back(Num("SSID " + std::to_string(i), 32, o.ssid[i]));
    f.push_back(Num("Port 1 Feature Bits", 16, 0x1234));
    f.push_back(Num("Port 2 Feature Bits", 16, 0x5678));
    f.push_back(Num("NIC Config", 32, 0xA5A5A5A5u));
    return f;
}

// The region the program should write: base (the adapter's region) with
// the file's fields over its first bytes; keepMac puts the base's MAC
// table back; the area's checksum at 0x1C makes its words sum to zero.
// Unless o.checksum is set, the file's checksum field gets that value.
inline std::vector<uint8_t> TeskRegion(TeskOptions o, std::vector<uint8_t> base, bool keepMac,
                                       std::vector<Field> *fieldsOut = nullptr) {
    std::vector<Field> f = TeskFields(o);
    std::vector<uint8_t> out = base;
    Lay(f, out);
    if (keepMac)
        for (size_t i = 0; i < 0x80 && kTeskMac + i < base.size(); ++i)
            out[kTeskMac + i] = base[kTeskMac + i];
    PutWord(out, kTeskChecksum, 0);
    uint32_t sum = NegSum(out, kTeskArea);
    PutWord(out, kTeskChecksum, sum);
    for (auto &x : f)
        if (x.checksum) x.value = o.checksum ? *o.checksum : sum;
    if (fieldsOut != nullptr) *fieldsOut = f;
    return out;
}

// A region 0x71 of size bytes for a simulated adapter: the area as the
// fields lay it down with its checksum, the rest a fixed pattern.
inline std::vector<uint8_t> TeskInitialRegion(const TeskOptions &o, size_t size) {
    std::vector<uint8_t> base(size, 0);
    for (size_t i = kTeskArea; i < size; ++i)
        base[i] = static_cast<uint8_t>(i * 7 + 3);
    return TeskRegion(o, base, false);
}

// The image a PEP or preload file lays over base, with the checksum the
// program computes (over the bytes laid down).
inline std::vector<uint8_t> ImageOver(const std::vector<Field> &fields, std::vector<uint8_t> base) {
    std::vector<Field> f = fields;
    Laid laid = Lay(f, base);
    if (laid.checksumAt >= 0) {
        PutWord(base, static_cast<size_t>(laid.checksumAt), 0);
        PutWord(base, static_cast<size_t>(laid.checksumAt), NegSum(base, laid.bytes));
    }
    return base;
}

} // namespace datakit
