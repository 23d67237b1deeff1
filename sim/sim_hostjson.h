// Field readers of the host description (sim_host.cpp, sim_host_port.cpp):
// every value is checked, and a bad one ends the load with one message that
// names the field.
#pragma once

#include "sim_model.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace tsim::hostfile {

using json = nlohmann::json;

struct LoadError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void Fail(const std::string &path, const std::string &what);

// Number from a JSON integer or a text ("0x1D7A" or decimal).
uint64_t ToNumber(const json &j, const std::string &path, uint64_t lo, uint64_t hi);
// Bytes from a hex text; ':', '-' and blanks may separate the digits.
Bytes ToBytes(const json &j, const std::string &path, size_t minLen, size_t maxLen);
// Version text "a.b.c" into up to n bytes.
void ParseVersion(const json &j, const std::string &path, uint8_t *out, int n);
inline uint32_t StatusValue(const json &j, const std::string &path) {
    return uint32_t(ToNumber(j, path, 0, 0xFFFFFFFFu));
}

// Reads the fields of one JSON object; Finish() rejects any field not asked for.
class Obj {
  public:
    Obj(const json &j, std::string path) : j_(j), path_(std::move(path)) {
        if (!j.is_object()) Fail(path_.empty() ? "(top)" : path_, "expected an object");
    }
    // Element `index` of the list at listPath; its path is made only when
    // a message or a nested field needs it (hosts list many LUNs).
    Obj(const json &j, const std::string &listPath, size_t index) : j_(j), list_(&listPath), index_(index) {
        if (!j.is_object()) Fail(Base(), "expected an object");
    }
    std::string Path(const std::string &k) const {
        std::string base = Base();
        return base.empty() ? k : base + "." + k;
    }
    const json *Get(const std::string &k) {
        auto it = j_.find(k);
        if (it == j_.end()) return nullptr;
        used_.push_back(&it.key());
        if (it->is_null()) return nullptr;
        return &*it;
    }
    bool Has(const std::string &k) const { return j_.contains(k) && !j_.at(k).is_null(); }
    uint64_t Num(const std::string &k, uint64_t def, uint64_t lo, uint64_t hi) {
        const json *v = Get(k);
        return v ? ToNumber(*v, Path(k), lo, hi) : def;
    }
    std::optional<uint64_t> OptNum(const std::string &k, uint64_t lo, uint64_t hi) {
        const json *v = Get(k);
        if (!v) return std::nullopt;
        return ToNumber(*v, Path(k), lo, hi);
    }
    bool Bool(const std::string &k, bool def) {
        const json *v = Get(k);
        if (!v) return def;
        if (!v->is_boolean()) Fail(Path(k), "expected true or false");
        return v->get<bool>();
    }
    std::string Str(const std::string &k, const std::string &def, size_t maxLen) {
        const json *v = Get(k);
        if (!v) return def;
        if (!v->is_string()) Fail(Path(k), "expected a text");
        std::string s = v->get<std::string>();
        if (s.size() > maxLen) Fail(Path(k), "text longer than " + std::to_string(maxLen) + " characters");
        return s;
    }
    Bytes Hex(const std::string &k, const Bytes &def, size_t minLen, size_t maxLen) {
        const json *v = Get(k);
        return v ? ToBytes(*v, Path(k), minLen, maxLen) : def;
    }
    const json *Array(const std::string &k) {
        const json *v = Get(k);
        if (v && !v->is_array()) Fail(Path(k), "expected a list");
        return v;
    }
    void Finish() const {
        for (auto it = j_.begin(); it != j_.end(); ++it)
            if (std::find(used_.begin(), used_.end(), &it.key()) == used_.end()) Fail(Path(it.key()), "unknown field");
    }

  private:
    std::string Base() const { return list_ ? *list_ + "[" + std::to_string(index_) + "]" : path_; }

    const json &j_; // outlives the reader (OrEmpty gives absent sub-objects)
    std::string path_;
    const std::string *list_ = nullptr;
    size_t index_ = 0;
    std::vector<const std::string *> used_; // keys of j_ asked for
};

// A sub-object, or an empty one when it is absent.
inline const json &OrEmpty(const json *v) {
    static const json empty = json::object();
    return v ? *v : empty;
}

inline void CopyText(char *dst, size_t cap, const std::string &s) {
    size_t n = std::min(cap - 1, s.size());
    std::memcpy(dst, s.data(), n);
    dst[n] = 0;
}

inline void CopyWwn(uint8_t *dst, const Bytes &b) { std::memcpy(dst, b.data(), 8); }

struct Defaults { // card-wide values the chips and ports start from
    std::string model, serial;
    uint16_t deviceId = 0x2532, ssvid = 0x1D7A, ssdid = 0x0301;
    int cardIndex = 0;
};

// One port of a chip (sim_host_port.cpp); fn is its PCI function on the card.
void ParsePort(const json &j, const std::string &path, Port &p, const Defaults &d, int fn, int bus, int slot,
               const std::filesystem::path &hostDir);

} // namespace tsim::hostfile
