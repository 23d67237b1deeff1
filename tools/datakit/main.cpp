// tfdatakit: writes configuration data files (PEP27BC.dat, FWA83xxB.DAT,
// BC26xx.DAT) and the region images they lay down. See tools/README.md.
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>

#include "datakit.h"

namespace {

const char kUsage[] =
    "usage: tfdatakit <kind> [options] <out file>\n"
    "kinds and options:\n"
    "  pep      [--version A.B.C.D] [--ssvid ID] [--ssdid ID] [--signature HEX]\n"
    "  preload  [--cxr 12|15|21|24|25] [--version A.B.C] [--ssvid ID] [--ssdid ID] [--signature HEX]\n"
    "  tesk     [--version A.B.C.D] [--ssid I=VALUE]... [--mac I=ADDRESS]... [--base FILE] [--keep-mac]\n"
    "common:    [--no-checksum] [--checksum HEX] [--line TEXT]... [--crlf]\n"
    "           [--image FILE] [--image-size N] [--base FILE]\n";

bool Number(const std::string &t, unsigned long long &v, int base = 0) {
    if (t.empty()) return false;
    char *end = nullptr;
    v = std::strtoull(t.c_str(), &end, base);
    return end != nullptr && *end == '\0';
}

bool Version(const std::string &t, uint8_t *parts, int n) {
    size_t start = 0;
    for (int i = 0; i < n; ++i) {
        size_t dot = t.find('.', start);
        if ((dot == std::string::npos) != (i == n - 1)) return false;
        unsigned long long v = 0;
        if (!Number(t.substr(start, dot == std::string::npos ? std::string::npos : dot - start), v, 10) || v > 255)
            return false;
        parts[i] = static_cast<uint8_t>(v);
        start = dot + 1;
    }
    return true;
}

// "I=VALUE" with I below limit.
bool Indexed(const std::string &t, size_t limit, size_t &index, std::string &value) {
    size_t eq = t.find('=');
    unsigned long long i = 0;
    if (eq == std::string::npos || !Number(t.substr(0, eq), i, 10) || i >= limit) return false;
    index = static_cast<size_t>(i);
    value = t.substr(eq + 1);
    return true;
}

// "00:1D:7A:00:00:01" or 12 hex digits.
bool Mac(std::string t, uint64_t &out) {
    std::string digits;
    for (char c : t)
        if (c != ':' && c != '-') digits.push_back(c);
    unsigned long long v = 0;
    if (digits.size() != 12 || !Number(digits, v, 16)) return false;
    out = v;
    return true;
}

bool ReadAll(const std::string &path, std::vector<uint8_t> &out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

bool WriteAll(const std::string &path, const void *data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char *>(data), static_cast<std::streamsize>(size));
    return static_cast<bool>(out);
}

int Usage(const std::string &why) {
    std::cerr << "tfdatakit: " << why << "\n" << kUsage;
    return 1;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 3) return Usage("missing arguments");
    const std::string kind = argv[1];
    datakit::PepOptions pep;
    datakit::PreloadOptions pre;
    datakit::TeskOptions tesk;
    std::vector<std::string> lines;
    std::string image, basePath, out;
    unsigned long long imageSize = 0;
    bool noChecksum = false, keepMac = false, crlf = false;
    std::optional<uint32_t> checksum;
    for (int i = 2; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&](std::string &v) {
            if (i + 1 >= argc) return false;
            v = argv[++i];
            return true;
        };
        std::string v;
        unsigned long long n = 0;
        if (a == "--version") {
            if (!next(v)) return Usage("--version needs a value");
            bool ok = kind == "preload" ? Version(v, pre.version, 3)
                                        : Version(v, kind == "pep" ? pep.version : tesk.version, 4);
            if (!ok) return Usage("bad version " + v);
        } else if (a == "--ssvid" || a == "--ssdid") {
            if (!next(v) || !Number(v, n) || n > 0xFFFF) return Usage("bad " + a);
            (a == "--ssvid" ? pep.ssvid : pep.ssdid) = static_cast<uint16_t>(n);
            (a == "--ssvid" ? pre.ssvid : pre.ssdid) = static_cast<uint16_t>(n);
        } else if (a == "--signature") {
            if (!next(v) || !Number(v, n, 16) || n > 0xFFFFFFFFull) return Usage("bad --signature");
            pep.signature = static_cast<uint32_t>(n);
            pre.signature = static_cast<uint32_t>(n);
        } else if (a == "--cxr") {
            if (!next(v) || !Number(v, n, 10)) return Usage("bad --cxr");
            pre.cxrType = static_cast<int>(n);
        } else if (a == "--ssid") {
            size_t idx = 0;
            if (!next(v) || !Indexed(v, 8, idx, v) || !Number(v, n) || n > 0xFFFFFFFFull) return Usage("bad --ssid");
            tesk.ssid[idx] = static_cast<uint32_t>(n);
        } else if (a == "--mac") {
            size_t idx = 0;
            uint64_t m = 0;
            if (!next(v) || !Indexed(v, 16, idx, v) || !Mac(v, m)) return Usage("bad --mac");
            tesk.mac[idx] = m;
        } else if (a == "--checksum") {
            if (!next(v) || !Number(v, n, 16) || n > 0xFFFFFFFFull) return Usage("bad --checksum");
            checksum = static_cast<uint32_t>(n);
        } else if (a == "--no-checksum") {
            noChecksum = true;
        } else if (a == "--keep-mac") {
            keepMac = true;
        } else if (a == "--crlf") {
            crlf = true;
        } else if (a == "--line") {
            if (!next(v)) return Usage("--line needs a value");
            lines.push_back(v);
        } else if (a == "--image") {
            if (!next(image)) return Usage("--image needs a file");
        } else if (a == "--base") {
            if (!next(basePath)) return Usage("--base needs a file");
        } else if (a == "--image-size") {
            if (!next(v) || !Number(v, imageSize) || imageSize == 0 || imageSize > (64u << 20))
                return Usage("bad --image-size");
        } else if (!a.empty() && a[0] == '-') {
            return Usage("unknown option " + a);
        } else if (out.empty()) {
            out = a;
        } else {
            return Usage("more than one out file");
        }
    }
    if (out.empty()) return Usage("missing out file");
    std::vector<uint8_t> base;
    if (!basePath.empty() && !ReadAll(basePath, base)) {
        std::cerr << "tfdatakit: cannot read " << basePath << "\n";
        return 2;
    }
    datakit::DataFile file;
    file.crlf = crlf;
    file.extraLines = lines;
    std::vector<uint8_t> region;
    if (kind == "pep" || kind == "preload") {
        pep.checksumLine = pre.checksumLine = !noChecksum;
        pep.checksum = pre.checksum = checksum;
        file.comments = {kind == "pep" ? "PEP board configuration" : "Firmware preload table"};
        file.fields = kind == "pep" ? datakit::PepFields(pep) : datakit::PreloadFields(pre);
        if (base.empty()) base.assign(imageSize != 0 ? imageSize : 0x20000, kind == "pep" ? 0x00 : 0xFF);
        region = datakit::ImageOver(file.fields, base);
    } else if (kind == "tesk") {
        tesk.checksum = checksum;
        file.comments = {"Converged board configuration"};
        if (base.empty()) {
            base = datakit::TeskInitialRegion(tesk, imageSize != 0 ? imageSize : 0x10000);
            keepMac = false;
        }
        region = datakit::TeskRegion(tesk, base, keepMac, &file.fields);
    } else {
        return Usage("unknown kind " + kind);
    }
    const std::string text = datakit::Text(file);
    if (!WriteAll(out, text.data(), text.size()) ||
        (!image.empty() && !WriteAll(image, region.data(), region.size()))) {
        std::cerr << "tfdatakit: cannot write output\n";
        return 2;
    }
    return 0;
}
