// Command-line front end of the image kit (tfimagekit), kept in a header
// so that tests can drive the same option parsing as the tool.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "families.h"
#include "imagekit.h"

namespace imagekit::cli {

inline const char kUsage[] =
    "usage: tfimagekit <subcommand> [options] <out file>\n"
    "subcommands:\n"
    "  chain       [--image SPEC]... [--flt-locator] [--pad SIZE] [--fill BYTE] [--truncate N]\n"
    "  firmware    [--chip C] [--version A.B.C] [--block1 WORDS] [--block2 WORDS] [--pad SIZE]\n"
    "              [--corrupt bad-checksum|bad-checksum2|no-marker|zero-length|length-past-end]\n"
    "              [--truncate N]\n"
    "  multiboot   [--chip C] [--device-id ID] [--mbi A.B.C] [--bios A.B] [--fcode A.B] [--efi A.B]\n"
    "              [--fw A.B.C] [--standard-bios] [--no-fcode] [--no-efi] [--ssvid ID] [--model M]\n"
    "              [--bios-blocks N]\n"
    "              [--size N] [--corrupt bad-bios-checksum|no-last|broken-chain|bad-mbv|\n"
    "               bad-fw-checksum] [--truncate N]\n"
    "  optionrom23 [--chip C] [--device-id ID] [--bios A.B] [--fcode A.B] [--efi A.B] [--common-bios]\n"
    "              [--no-fcode] [--with-efi] [--size N] [--corrupt bad-bios-checksum|no-last|broken-chain]\n"
    "  fltlocator  [--address A] [--version V] [--corrupt bad-checksum|bad-signature|lowercase|nonzero-after]\n"
    "  flt         [--version V] [--region CODE:SIZE:START]... [--corrupt bad-checksum]\n"
    "  mbversion   [--mbi A.B.C] [--corrupt bad-signature]\n"
    "  firstgen|lark|tesk|teskfc|fenwar|zult\n"
    "              [--ssvid ID] [--ssdid ID] [--device-id ID] [--card-type T] [--mask M] [--chip-rev R]\n"
    "              [--image-version A.B.C] [--ffv A.B.C.D] [--bios A.B] [--fcode A.B] [--efi A.B]\n"
    "              [--fw A.B.C] [--signature OFIM|OILT] [--table-version V]\n"
    "              [--corrupt bad-checksum|wrong-signature|entry-past-end|wrong-chip-rev|no-card-type]\n"
    "image SPEC: kind[,key=value|flag]...  kind: bios common fcode efi pxe\n"
    "  keys: dev ven rev=MAJOR.MINOR blocks size-byte last=0|1 pcir chip code ssvid biosdev model seed type\n"
    "  flags: badsum badsig badpcir zerolen longlen pciroutside nochecksum\n";

inline bool ParseNumber(const std::string &text, unsigned long &out) {
    if (text.empty()) return false;
    char *end = nullptr;
    unsigned long v = std::strtoul(text.c_str(), &end, 0);
    if (end == nullptr || *end != '\0') return false;
    out = v;
    return true;
}

// "A.B" or "A.B.C" into up to three bytes.
inline bool ParseVersion(const std::string &text, uint8_t *parts, size_t count) {
    size_t start = 0;
    for (size_t i = 0; i < count; ++i) {
        size_t dot = text.find('.', start);
        std::string piece = text.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        unsigned long v = 0;
        if (!ParseNumber(piece, v) || v > 255) return false;
        parts[i] = static_cast<uint8_t>(v);
        if (dot == std::string::npos) return i + 1 == count;
        start = dot + 1;
    }
    return false;
}

inline std::vector<std::string> Split(const std::string &text, char sep) {
    std::vector<std::string> out;
    size_t start = 0;
    while (true) {
        size_t at = text.find(sep, start);
        out.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) break;
        start = at + 1;
    }
    return out;
}

inline bool ParseImageSpec(const std::string &text, PciImageSpec &s, std::string &error) {
    auto parts = Split(text, ',');
    const std::string &kind = parts[0];
    if (kind == "bios") {
        s = StandardBios("2532", 0x2532, 3, 28);
    } else if (kind == "common") {
        s = CommonBios("2532", 0x2532, 3, 28);
    } else if (kind == "fcode") {
        s = CodeImage(kFCode, 0x2532, 4, 3);
    } else if (kind == "efi") {
        s = CodeImage(kEfi, 0x2532, 6, 1, 128);
    } else if (kind == "pxe") {
        s = CodeImage(kPxe, 0x8020, 2, 0);
    } else {
        error = "unknown image kind '" + kind + "'";
        return false;
    }
    bool chipGiven = false, codeGiven = false;
    for (size_t i = 1; i < parts.size(); ++i) {
        std::string key = parts[i], value;
        size_t eq = key.find('=');
        if (eq != std::string::npos) {
            value = key.substr(eq + 1);
            key = key.substr(0, eq);
        }
        unsigned long n = 0;
        bool num = ParseNumber(value, n);
        auto need = [&](unsigned long max) {
            if (!num || n > max) error = "bad value for '" + key + "': '" + value + "'";
            return num && n <= max;
        };
        if (key == "dev") {
            if (!need(0xFFFF)) return false;
            s.deviceId = static_cast<uint16_t>(n);
        } else if (key == "ven") {
            if (!need(0xFFFF)) return false;
            s.vendorId = static_cast<uint16_t>(n);
        } else if (key == "rev") {
            uint8_t v[2];
            if (!ParseVersion(value, v, 2)) return error = "bad rev '" + value + "'", false;
            s.revMajor = v[0];
            s.revMinor = v[1];
        } else if (key == "blocks") {
            if (!need(0xFFFF)) return false;
            s.blocks = n;
        } else if (key == "size-byte") {
            if (!need(0xFF)) return false;
            s.sizeByte = static_cast<int>(n);
        } else if (key == "last") {
            if (!need(1)) return false;
            s.last = static_cast<int>(n);
        } else if (key == "pcir") {
            if (!need(0xFFFF)) return false;
            s.pcirOffset = static_cast<uint16_t>(n);
        } else if (key == "chip") {
            s.chipText = value;
            chipGiven = true;
        } else if (key == "code") {
            if (!need(0xFF)) return false;
            s.typeCode = static_cast<int>(n);
            codeGiven = true;
        } else if (key == "ssvid") {
            if (!need(0xFFFF)) return false;
            s.ssvid = static_cast<uint16_t>(n);
        } else if (key == "biosdev") {
            if (!need(0xFFFF)) return false;
            s.biosDeviceId = static_cast<uint16_t>(n);
        } else if (key == "model") {
            s.model = value;
        } else if (key == "seed") {
            if (!need(0xFFFFFFFFul)) return false;
            s.seed = static_cast<uint32_t>(n);
        } else if (key == "type") {
            if (!need(0xFF)) return false;
            s.codeType = static_cast<uint8_t>(n);
        } else if (key == "badsum") {
            s.faults.badChecksum = true;
        } else if (key == "badsig") {
            s.faults.badRomSignature = true;
        } else if (key == "badpcir") {
            s.faults.badPcirSignature = true;
        } else if (key == "zerolen") {
            s.faults.zeroLength = true;
        } else if (key == "longlen") {
            s.faults.lengthPastEnd = true;
        } else if (key == "pciroutside") {
            s.faults.pcirOutside = true;
        } else if (key == "nochecksum") {
            s.fixChecksum = false;
        } else {
            error = "unknown image key '" + key + "'";
            return false;
        }
    }
    // BIOS images default their chip text and type code to the device ID.
    if (s.codeType == kBios || s.codeType == kPxe) {
        if (!chipGiven) s.chipText = Hex4(s.deviceId);
        if (s.common && !codeGiven) s.typeCode = BiosTypeCode(s.chipText);
    }
    if (static_cast<size_t>(s.pcirOffset) + 0x18 > (s.blocks == 0 ? 1 : s.blocks) * kBlock) {
        error = "data structure offset outside the image";
        return false;
    }
    return true;
}

struct Args {
    std::vector<std::pair<std::string, std::string>> options; // name, value
    std::vector<std::string> flags;
    std::string out;
};

// Options that take no value.
inline bool IsFlag(const std::string &name) {
    static const char *flags[] = {"--flt-locator", "--standard-bios", "--no-fcode",
                                  "--no-efi",      "--common-bios",   "--with-efi"};
    for (const char *f : flags)
        if (name == f) return true;
    return false;
}

inline bool ParseArgs(int argc, char **argv, Args &a, std::string &error) {
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.rfind("--", 0) == 0) {
            if (IsFlag(arg)) {
                a.flags.push_back(arg);
            } else if (i + 1 < argc) {
                a.options.emplace_back(arg, argv[++i]);
            } else {
                error = "option " + arg + " needs a value";
                return false;
            }
        } else if (a.out.empty()) {
            a.out = arg;
        } else {
            error = "more than one output file";
            return false;
        }
    }
    if (a.out.empty()) error = "no output file";
    return !a.out.empty();
}

inline bool HasFlag(const Args &a, const char *name) {
    for (const auto &f : a.flags)
        if (f == name) return true;
    return false;
}

inline int WriteFile(const std::string &path, const Bytes &data) {
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        std::fprintf(stderr, "tfimagekit: cannot create %s\n", path.c_str());
        return 2;
    }
    size_t written = data.empty() ? 0 : std::fwrite(data.data(), 1, data.size(), f);
    bool ok = written == data.size();
    ok = (std::fclose(f) == 0) && ok;
    if (!ok) {
        std::fprintf(stderr, "tfimagekit: cannot write %s\n", path.c_str());
        return 2;
    }
    return 0;
}

inline int Fail(const std::string &msg) {
    std::fprintf(stderr, "tfimagekit: %s\n", msg.c_str());
    return 1;
}

// Reads a numeric option value into 'out' with a maximum.
inline bool Num(const std::string &value, unsigned long max, unsigned long &out) {
    return ParseNumber(value, out) && out <= max;
}

inline int BuildChainCmd(const Args &a, Bytes &out) {
    std::vector<PciImageSpec> specs;
    bool locator = HasFlag(a, "--flt-locator");
    unsigned long pad = 0, fill = 0xFF, truncate = 0;
    for (const auto &[name, value] : a.options) {
        if (name == "--image") {
            PciImageSpec s;
            std::string error;
            if (!ParseImageSpec(value, s, error)) return Fail(error);
            s.seed += static_cast<uint32_t>(specs.size()) * 101u;
            specs.push_back(s);
        } else if (name == "--pad") {
            if (!Num(value, 0x4000000, pad)) return Fail("bad --pad");
        } else if (name == "--fill") {
            if (!Num(value, 0xFF, fill)) return Fail("bad --fill");
        } else if (name == "--truncate") {
            if (!Num(value, 0x4000000, truncate)) return Fail("bad --truncate");
        } else {
            return Fail("unknown option " + name + " for chain");
        }
    }
    if (specs.empty()) specs = BootChainSpecs("2532", 0x2532, BootVersions{}, true, true, true);
    out = BuildChain(specs);
    if (locator) Append(out, BuildFltLocator());
    if (pad > out.size()) out.resize(pad, static_cast<uint8_t>(fill));
    if (truncate != 0 && truncate < out.size()) out.resize(truncate);
    return 0;
}

inline int BuildFirmwareCmd(const Args &a, Bytes &out) {
    FirmwareSpec s;
    unsigned long n = 0;
    for (const auto &[name, value] : a.options) {
        if (name == "--chip") {
            s.chip = value;
        } else if (name == "--version") {
            uint8_t v[3];
            if (!ParseVersion(value, v, 3)) return Fail("bad --version");
            s.major = v[0], s.minor = v[1], s.subMinor = v[2];
        } else if (name == "--block1" || name == "--block2") {
            if (!Num(value, 0x1000000, n)) return Fail("bad " + name);
            (name == "--block1" ? s.block1Words : s.block2Words) = n;
        } else if (name == "--pad") {
            if (!Num(value, 0x4000000, n)) return Fail("bad --pad");
            s.padTo = n;
        } else if (name == "--truncate") {
            if (!Num(value, 0x4000000, n)) return Fail("bad --truncate");
            s.faults.truncateTo = n;
        } else if (name == "--corrupt") {
            if (value == "bad-checksum")
                s.faults.badChecksum1 = true;
            else if (value == "bad-checksum2")
                s.faults.badChecksum2 = true;
            else if (value == "no-marker")
                s.faults.noMarker = true;
            else if (value == "zero-length")
                s.faults.zeroLength = true;
            else if (value == "length-past-end")
                s.faults.lengthPastEnd = true;
            else
                return Fail("unknown firmware corruption " + value);
        } else {
            return Fail("unknown option " + name + " for firmware");
        }
    }
    out = BuildFirmware(s);
    return 0;
}

inline bool ParseBootVersion(const std::string &name, const std::string &value, BootVersions &v) {
    uint8_t p[2];
    if (!ParseVersion(value, p, 2)) return false;
    if (name == "--bios") v.biosMajor = p[0], v.biosMinor = p[1];
    if (name == "--fcode") v.fcodeMajor = p[0], v.fcodeMinor = p[1];
    if (name == "--efi") v.efiMajor = p[0], v.efiMinor = p[1];
    return true;
}

inline int BuildMultibootCmd(const Args &a, Bytes &out) {
    MultibootSpec s;
    bool deviceGiven = false;
    unsigned long n = 0;
    for (const auto &[name, value] : a.options) {
        if (name == "--chip") {
            s.chip = value;
        } else if (name == "--device-id") {
            if (!Num(value, 0xFFFF, n)) return Fail("bad --device-id");
            s.deviceId = static_cast<uint16_t>(n);
            deviceGiven = true;
        } else if (name == "--mbi" || name == "--fw") {
            uint8_t v[3];
            if (!ParseVersion(value, v, 3)) return Fail("bad " + name);
            if (name == "--mbi")
                s.mbiMajor = v[0], s.mbiMinor = v[1], s.mbiSubMinor = v[2];
            else
                s.fwMajor = v[0], s.fwMinor = v[1], s.fwSubMinor = v[2];
        } else if (name == "--bios" || name == "--fcode" || name == "--efi") {
            if (!ParseBootVersion(name, value, s.boot)) return Fail("bad " + name);
        } else if (name == "--ssvid") {
            if (!Num(value, 0xFFFF, n)) return Fail("bad --ssvid");
            s.ssvid = static_cast<uint16_t>(n);
        } else if (name == "--bios-blocks") {
            if (!Num(value, 0xFF, n) || n < 1) return Fail("bad --bios-blocks (1-255)");
            s.biosBlocks = n;
        } else if (name == "--model") {
            s.model = value;
        } else if (name == "--size") {
            if (!Num(value, 0x4000000, n)) return Fail("bad --size");
            s.size = n;
        } else if (name == "--truncate") {
            if (!Num(value, 0x4000000, n)) return Fail("bad --truncate");
            s.faults.truncateTo = n;
        } else if (name == "--corrupt") {
            if (value == "bad-bios-checksum")
                s.faults.badBiosChecksum = true;
            else if (value == "no-last")
                s.faults.noLastImage = true;
            else if (value == "broken-chain")
                s.faults.brokenChain = true;
            else if (value == "bad-mbv")
                s.faults.badVersionSignature = true;
            else if (value == "bad-fw-checksum")
                s.faults.badFirmwareChecksum = true;
            else
                return Fail("unknown multiboot corruption " + value);
        } else {
            return Fail("unknown option " + name + " for multiboot");
        }
    }
    if (!deviceGiven && !ParseNumber("0x" + s.chip.substr(0, 4), n)) return Fail("give --device-id for this chip");
    if (!deviceGiven) s.deviceId = static_cast<uint16_t>(n);
    s.commonBios = !HasFlag(a, "--standard-bios");
    s.fcode = !HasFlag(a, "--no-fcode");
    s.efi = !HasFlag(a, "--no-efi");
    out = BuildMultiboot(s);
    return 0;
}

inline int BuildOptionRom23Cmd(const Args &a, Bytes &out) {
    OptionRom23Spec s;
    bool deviceGiven = false;
    unsigned long n = 0;
    for (const auto &[name, value] : a.options) {
        if (name == "--chip") {
            s.chip = value;
        } else if (name == "--device-id") {
            if (!Num(value, 0xFFFF, n)) return Fail("bad --device-id");
            s.deviceId = static_cast<uint16_t>(n);
            deviceGiven = true;
        } else if (name == "--bios" || name == "--fcode" || name == "--efi") {
            if (!ParseBootVersion(name, value, s.boot)) return Fail("bad " + name);
        } else if (name == "--size") {
            if (!Num(value, 0x4000000, n)) return Fail("bad --size");
            s.size = n;
        } else if (name == "--corrupt") {
            if (value == "bad-bios-checksum")
                s.badBiosChecksum = true;
            else if (value == "no-last")
                s.noLastImage = true;
            else if (value == "broken-chain")
                s.brokenChain = true;
            else
                return Fail("unknown optionrom23 corruption " + value);
        } else {
            return Fail("unknown option " + name + " for optionrom23");
        }
    }
    if (!deviceGiven && !ParseNumber("0x" + s.chip.substr(0, 4), n)) return Fail("give --device-id for this chip");
    if (!deviceGiven) s.deviceId = static_cast<uint16_t>(n);
    s.commonBios = HasFlag(a, "--common-bios");
    s.fcode = !HasFlag(a, "--no-fcode");
    s.efi = HasFlag(a, "--with-efi");
    out = BuildOptionRom23(s);
    return 0;
}

inline int BuildFltLocatorCmd(const Args &a, Bytes &out) {
    unsigned long address = 0, version = 1;
    FltLocatorFaults f;
    for (const auto &[name, value] : a.options) {
        if (name == "--address") {
            if (!Num(value, 0xFFFFFFFFul, address)) return Fail("bad --address");
        } else if (name == "--version") {
            if (!Num(value, 0xFFFF, version)) return Fail("bad --version");
        } else if (name == "--corrupt") {
            if (value == "bad-checksum")
                f.badChecksum = true;
            else if (value == "bad-signature")
                f.badSignature = true;
            else if (value == "lowercase")
                f.lowerCase = true;
            else if (value == "nonzero-after")
                f.nonZeroAfter = true;
            else
                return Fail("unknown locator corruption " + value);
        } else {
            return Fail("unknown option " + name + " for fltlocator");
        }
    }
    out = BuildFltLocator(static_cast<uint32_t>(address), static_cast<uint16_t>(version), f);
    return 0;
}

inline int BuildFltCmd(const Args &a, Bytes &out) {
    unsigned long version = 1;
    bool bad = false;
    std::vector<FltRegion> regions;
    for (const auto &[name, value] : a.options) {
        if (name == "--version") {
            if (!Num(value, 0xFFFF, version)) return Fail("bad --version");
        } else if (name == "--region") {
            auto p = Split(value, ':');
            unsigned long c = 0, s = 0, st = 0;
            if (p.size() != 3 || !Num(p[0], 0xFFFFFFFFul, c) || !Num(p[1], 0xFFFFFFFFul, s) ||
                !Num(p[2], 0xFFFFFFFFul, st))
                return Fail("bad --region, want CODE:SIZE:START");
            regions.push_back({static_cast<uint32_t>(c), static_cast<uint32_t>(s), static_cast<uint32_t>(st)});
        } else if (name == "--corrupt" && value == "bad-checksum") {
            bad = true;
        } else {
            return Fail("unknown option " + name + " for flt");
        }
    }
    if (regions.size() > 0xFFF) return Fail("too many regions");
    out = BuildFlt(static_cast<uint16_t>(version), regions, bad);
    return 0;
}

inline int BuildVersionBlockCmd(const Args &a, Bytes &out) {
    uint8_t v[3] = {3, 1, 2};
    bool bad = false;
    for (const auto &[name, value] : a.options) {
        if (name == "--mbi") {
            if (!ParseVersion(value, v, 3)) return Fail("bad --mbi");
        } else if (name == "--corrupt" && value == "bad-signature") {
            bad = true;
        } else {
            return Fail("unknown option " + name + " for mbversion");
        }
    }
    out = BuildVersionBlock(v[0], v[1], v[2], bad);
    return 0;
}

struct FamilyCommand {
    const char *name;
    Family family;
};
inline constexpr FamilyCommand kFamilyCommands[] = {
    {"firstgen", Family::FirstGen}, {"lark", Family::Lark},     {"tesk", Family::Tesk},
    {"teskfc", Family::TeskFc},     {"fenwar", Family::Fenwar}, {"zult", Family::Zult},
};

inline bool ParseFamilyCorruption(const std::string &value, FamilySpec &s) {
    FamilyFaults &f = s.faults;
    if (value == "bad-checksum") {
        // Fenwar validation tests no checksum of its components.
        if (s.family == Family::Fenwar) return false;
        f.badChecksum = true;
    } else if (value == "wrong-signature") {
        f.wrongSignature = true;
    } else if (value == "entry-past-end") {
        f.entryPastEnd = true;
    } else if (value == "wrong-chip-rev") {
        // First-generation images carry no revision-specific region.
        if (s.family == Family::FirstGen) return false;
        f.wrongChipRev = true;
    } else if (value == "no-card-type") {
        f.noCardType = true;
    } else {
        return false;
    }
    return true;
}

inline int BuildFamilyCmd(Family family, const Args &a, Bytes &out) {
    FamilySpec s;
    s.family = family;
    unsigned long n = 0;
    for (const auto &[name, value] : a.options) {
        uint8_t v[4];
        if (name == "--ssvid" || name == "--ssdid" || name == "--device-id" || name == "--card-type" ||
            name == "--mask" || name == "--chip-rev" || name == "--table-version") {
            if (!Num(value, 0xFFFF, n)) return Fail("bad " + name);
            uint16_t x = static_cast<uint16_t>(n);
            if (name == "--ssvid") s.ssvid = x;
            if (name == "--ssdid") s.ssdid = x;
            if (name == "--device-id") s.deviceId = x;
            if (name == "--card-type") s.cardType = x;
            if (name == "--mask") s.mask = x;
            if (name == "--chip-rev") s.chipRev = x;
            if (name == "--table-version") s.tableVersion = x;
        } else if (name == "--image-version" || name == "--fw") {
            if (!ParseVersion(value, v, 3)) return Fail("bad " + name);
            (name == "--fw" ? s.firmware : s.image) = Version3{v[0], v[1], v[2]};
        } else if (name == "--ffv") {
            if (!ParseVersion(value, v, 4)) return Fail("bad --ffv");
            s.ffv = {v[0], v[1], v[2], v[3]};
        } else if (name == "--bios" || name == "--fcode" || name == "--efi") {
            if (!ParseBootVersion(name, value, s.boot)) return Fail("bad " + name);
        } else if (name == "--signature") {
            if (value.size() != 4) return Fail("bad --signature (four characters)");
            s.signature = value;
        } else if (name == "--corrupt") {
            if (!ParseFamilyCorruption(value, s)) return Fail("corruption " + value + " not available here");
        } else {
            return Fail("unknown option " + name + " for a family image");
        }
    }
    out = BuildFamilyImage(s);
    return 0;
}

// Builds the image a subcommand describes; 0 on success, 1 for a usage
// error (reported on stderr).
inline int Build(const std::string &cmd, const Args &a, Bytes &out) {
    if (cmd == "chain") return BuildChainCmd(a, out);
    if (cmd == "firmware") return BuildFirmwareCmd(a, out);
    if (cmd == "multiboot") return BuildMultibootCmd(a, out);
    if (cmd == "optionrom23") return BuildOptionRom23Cmd(a, out);
    if (cmd == "fltlocator") return BuildFltLocatorCmd(a, out);
    if (cmd == "flt") return BuildFltCmd(a, out);
    if (cmd == "mbversion") return BuildVersionBlockCmd(a, out);
    for (const FamilyCommand &f : kFamilyCommands)
        if (cmd == f.name) return BuildFamilyCmd(f.family, a, out);
    std::fprintf(stderr, "tfimagekit: unknown subcommand %s\n%s", cmd.c_str(), kUsage);
    return 1;
}

inline int Main(int argc, char **argv) {
    if (argc < 2 || std::strcmp(argv[1], "help") == 0 || std::strcmp(argv[1], "--help") == 0) {
        std::fputs(kUsage, argc < 2 ? stderr : stdout);
        return argc < 2 ? 1 : 0;
    }
    std::string cmd = argv[1];
    Args a;
    std::string error;
    if (!ParseArgs(argc, argv, a, error)) {
        std::fprintf(stderr, "tfimagekit: %s\n%s", error.c_str(), kUsage);
        return 1;
    }
    Bytes out;
    int rc = Build(cmd, a, out);
    if (rc != 0) return rc;
    return WriteFile(a.out, out);
}

// Test entry: words are the subcommand, its options and an output name
// (not written); 'out' gets the image.
inline int BuildFromWords(const std::vector<std::string> &words, Bytes &out) {
    std::vector<char *> argv;
    static char tool[] = "tfimagekit";
    argv.push_back(tool);
    for (const auto &w : words)
        argv.push_back(const_cast<char *>(w.c_str()));
    Args a;
    std::string error;
    if (words.empty() || !ParseArgs(static_cast<int>(argv.size()), argv.data(), a, error)) return 1;
    return Build(words[0], a, out);
}

} // namespace imagekit::cli
