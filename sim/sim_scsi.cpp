// SCSI behaviour of the simulated targets: TEST UNIT READY sequences,
// INQUIRY (standard and vital product pages), REPORT LUNS and READ
// CAPACITY (10) and (16). Sense data is fixed format: key at byte 2, ASC at
// 12, ASCQ at 13.
#include "sim_model.h"

#include <algorithm>
#include <cstring>

namespace tsim {

namespace {

uint64_t WwnKey(const uint8_t w[8]) {
    uint64_t k = 0;
    for (int i = 0; i < 8; ++i)
        k = k << 8 | w[i];
    return k;
}

} // namespace

void IndexTargets(Port &p) {
    p.targetsByWwn.clear();
    p.discoveredTargets.clear();
    p.lastTarget = SIZE_MAX;
    for (uint32_t i = 0; i < p.targets.size(); ++i) {
        Target &t = p.targets[i];
        p.targetsByWwn.emplace_back(WwnKey(t.portWwn), i);
        if (t.discovered) p.discoveredTargets.push_back(i);
        t.lunsInOrder = true;
        t.lunsByNumber.clear();
        for (size_t k = 0; k < t.luns.size() && t.lunsInOrder; ++k)
            t.lunsInOrder = t.luns[k].number == k;
        if (!t.lunsInOrder) {
            for (uint32_t k = 0; k < t.luns.size(); ++k)
                t.lunsByNumber.emplace_back(t.luns[k].number, k);
            std::sort(t.lunsByNumber.begin(), t.lunsByNumber.end());
        }
    }
    std::sort(p.targetsByWwn.begin(), p.targetsByWwn.end());
}

// A command goes to the first target of the list with that port name and
// the first LUN with that number, as a walk of the lists would find them.
Target *FindTarget(Port &p, const uint8_t portWwn[8]) {
    const uint64_t key = WwnKey(portWwn);
    // Commands come in runs to one target: the last one found is tried first.
    if (p.lastTarget < p.targets.size() && p.lastTargetKey == key) return &p.targets[p.lastTarget];
    auto it = std::lower_bound(p.targetsByWwn.begin(), p.targetsByWwn.end(), std::make_pair(key, uint32_t(0)));
    if (it == p.targetsByWwn.end() || it->first != key) return nullptr;
    p.lastTarget = it->second;
    p.lastTargetKey = key;
    return &p.targets[it->second];
}

Lun *FindLun(Target &t, uint16_t lun) {
    if (t.lunsInOrder) return lun < t.luns.size() ? &t.luns[lun] : nullptr;
    auto it = std::lower_bound(t.lunsByNumber.begin(), t.lunsByNumber.end(), std::make_pair(lun, uint32_t(0)));
    return it != t.lunsByNumber.end() && it->first == lun ? &t.luns[it->second] : nullptr;
}

namespace {

void FillSense(uint8_t *sense, uint32_t senseSize, uint8_t key, uint8_t asc, uint8_t ascq) {
    if (!sense || senseSize == 0) return;
    uint8_t s[18] = {};
    s[0] = 0x70;
    s[2] = key;
    s[7] = 10;
    s[12] = asc;
    s[13] = ascq;
    std::memset(sense, 0, senseSize);
    std::memcpy(sense, s, std::min<uint32_t>(senseSize, sizeof s));
}

TVX_STATUS Answer(const ScsiAnswer &a, uint8_t *sense, uint32_t senseSize) {
    if (a.status == TVX_ERR_CHECK_CONDITION) FillSense(sense, senseSize, a.key, a.asc, a.ascq);
    return a.status;
}

TVX_STATUS Check(uint8_t *sense, uint32_t senseSize, uint8_t key, uint8_t asc, uint8_t ascq) {
    FillSense(sense, senseSize, key, asc, ascq);
    return TVX_ERR_CHECK_CONDITION;
}

// Resolves the address; null target means a bad address (status set).
Target *Address(Port &p, const TVX_SCSI_ADDRESS *a, TVX_STATUS &st) {
    st = TVX_STATUS_OK;
    if (!a || a->AddressType != 2) {
        st = TVX_ERR_INVALID_PARAMETER;
        return nullptr;
    }
    Target *t = FindTarget(p, a->PortWWN);
    if (!t) st = TVX_ERR_SCSI_TRANSPORT; // nobody answers at that port name
    return t;
}

void Copy(uint8_t *data, uint32_t dataSize, const uint8_t *src, size_t n) {
    std::memcpy(data, src, std::min<size_t>(dataSize, n));
}

void PutBe(uint8_t *p, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        p[i] = uint8_t(v >> (8 * (bytes - 1 - i)));
}

TVX_STATUS TestUnitReady(Target &t, uint16_t lun, uint8_t *sense, uint32_t senseSize) {
    Lun *l = FindLun(t, lun);
    if (!l) return Check(sense, senseSize, 5, 0x25, 0);
    ScsiAnswer a;
    if (LunScript *s = l->script.get()) a = s->turPos < s->tur.size() ? s->tur[s->turPos++] : s->turThen;
    if (a.status == TVX_STATUS_OK && l->reserved) return TVX_ERR_RESERVATION;
    return Answer(a, sense, senseSize);
}

TVX_STATUS Capacity(Target &t, uint16_t lun, bool sixteen, uint8_t *data, uint32_t dataSize, uint8_t *sense,
                    uint32_t senseSize) {
    Lun *l = FindLun(t, lun);
    if (!l) return Check(sense, senseSize, 5, 0x25, 0);
    if (LunScript *s = l->script.get(); s && s->capacityPos < s->capacity.size()) {
        ScsiAnswer a = s->capacity[s->capacityPos++];
        if (a.status != TVX_STATUS_OK) return Answer(a, sense, senseSize);
    }
    if (l->reserved) return TVX_ERR_RESERVATION;
    uint64_t last = l->blocks ? l->blocks - 1 : 0;
    if (sixteen) {
        uint8_t d[32] = {};
        PutBe(d, last, 8);
        PutBe(d + 8, l->blockSize, 4);
        Copy(data, dataSize, d, sizeof d);
    } else {
        if (dataSize < 8) return TVX_ERR_INVALID_PARAMETER;
        uint8_t d[8];
        PutBe(d, last > 0xFFFFFFFFull ? 0xFFFFFFFFull : last, 4);
        PutBe(d + 4, l->blockSize, 4);
        Copy(data, dataSize, d, sizeof d);
    }
    return TVX_STATUS_OK;
}

} // namespace

TVX_STATUS ScsiInquiry(Port &p, const TVX_SCSI_ADDRESS *a, uint8_t evpd, uint8_t page, uint8_t *data, uint32_t dataSize,
                       uint8_t *sense, uint32_t senseSize) {
    TVX_STATUS st;
    Target *t = Address(p, a, st);
    if (!t) return st;
    if (!data || dataSize == 0) return TVX_ERR_INVALID_PARAMETER;
    std::memset(data, 0, dataSize);
    Lun *l = FindLun(*t, a->Lun);
    if (!l) { // no logical unit here: peripheral qualifier 3
        uint8_t d[36] = {0x7F, 0, 5, 2, 31};
        Copy(data, dataSize, d, evpd ? 4 : sizeof d);
        return TVX_STATUS_OK;
    }
    if (l->inquiryStatus != TVX_STATUS_OK) {
        if (l->inquiryStatus == TVX_ERR_CHECK_CONDITION) return Check(sense, senseSize, 5, 0x24, 0);
        return l->inquiryStatus;
    }
    if (!evpd) {
        if (page != 0) return Check(sense, senseSize, 5, 0x24, 0);
        Copy(data, dataSize, l->inquiry.data(), l->inquiry.size());
        return TVX_STATUS_OK;
    }
    uint8_t type = l->inquiry[0];
    if (page == 0x00) {
        uint8_t d[7] = {type, 0x00, 0, 3, 0x00, 0x80, 0x83};
        Copy(data, dataSize, d, sizeof d);
        return TVX_STATUS_OK;
    }
    if (page == 0x80) {
        uint8_t d[4 + 16] = {type, 0x80, 0, 16};
        for (int i = 0; i < 8; ++i) {
            static const char hex[] = "0123456789ABCDEF";
            d[4 + 2 * i] = uint8_t(hex[l->deviceId[size_t(i) % l->deviceId.size()] >> 4]);
            d[5 + 2 * i] = uint8_t(hex[l->deviceId[size_t(i) % l->deviceId.size()] & 15]);
        }
        Copy(data, dataSize, d, sizeof d);
        return TVX_STATUS_OK;
    }
    if (page == 0x83) {
        uint8_t d[8 + 16] = {type, 0x83, 0, 0, 0x01, 0x03, 0, 0};
        size_t n = l->deviceId.size();
        d[3] = uint8_t(4 + n);
        d[7] = uint8_t(n);
        std::memcpy(d + 8, l->deviceId.data(), n);
        Copy(data, dataSize, d, 8 + n);
        return TVX_STATUS_OK;
    }
    return Check(sense, senseSize, 5, 0x24, 0);
}

TVX_STATUS ScsiReportLuns(Port &p, const TVX_SCSI_ADDRESS *a, uint8_t *data, uint32_t dataSize, uint8_t *sense,
                          uint32_t senseSize) {
    TVX_STATUS st;
    Target *t = Address(p, a, st);
    if (!t) return st;
    if (!data || dataSize < 8) return TVX_ERR_INVALID_PARAMETER;
    if (t->reportLunsPos < t->reportLuns.size()) {
        ScsiAnswer ans = t->reportLuns[t->reportLunsPos++];
        if (ans.status != TVX_STATUS_OK) return Answer(ans, sense, senseSize);
    }
    std::memset(data, 0, dataSize);
    size_t n = t->luns.size();
    PutBe(data, uint64_t(n) * 8, 4);
    for (size_t i = 0; i < n; ++i) {
        size_t off = 8 + i * 8;
        if (off + 8 > dataSize) break; // the list length still tells the whole count
        uint16_t lun = t->luns[i].number;
        if (lun < 256) {
            data[off + 1] = uint8_t(lun);
        } else { // flat space addressing
            data[off] = uint8_t(0x40 | (lun >> 8));
            data[off + 1] = uint8_t(lun);
        }
    }
    return TVX_STATUS_OK;
}

TVX_STATUS ScsiReadCapacity(Port &p, const TVX_SCSI_ADDRESS *a, uint8_t *data, uint32_t dataSize, uint8_t *sense,
                            uint32_t senseSize) {
    TVX_STATUS st;
    Target *t = Address(p, a, st);
    if (!t) return st;
    if (!data) return TVX_ERR_INVALID_PARAMETER;
    return Capacity(*t, a->Lun, false, data, dataSize, sense, senseSize);
}

TVX_STATUS ScsiPassThru(Port &p, const TVX_SCSI_ADDRESS *a, const uint8_t *cdb, uint32_t cdbLength, uint32_t direction,
                        uint8_t *data, uint32_t dataSize, uint8_t *sense, uint32_t senseSize) {
    TVX_STATUS st;
    if (!cdb || (cdbLength != 6 && cdbLength != 16) || direction > 1) return TVX_ERR_INVALID_PARAMETER;
    Target *t = Address(p, a, st);
    if (!t) return st;
    if (cdbLength == 6 && cdb[0] == 0x00) return TestUnitReady(*t, a->Lun, sense, senseSize);
    if (cdbLength == 6 && cdb[0] == 0x12) {
        if (direction != 1 || !data) return TVX_ERR_INVALID_PARAMETER;
        uint32_t alloc = std::min<uint32_t>(dataSize, uint32_t(cdb[3] << 8 | cdb[4]));
        if (alloc == 0) return TVX_STATUS_OK;
        return ScsiInquiry(p, a, cdb[1] & 1, cdb[2], data, alloc, sense, senseSize);
    }
    if (cdbLength == 16 && cdb[0] == 0x9E && (cdb[1] & 0x1F) == 0x10) {
        if (direction != 1 || !data) return TVX_ERR_INVALID_PARAMETER;
        uint32_t alloc = uint32_t(cdb[10]) << 24 | uint32_t(cdb[11]) << 16 | uint32_t(cdb[12]) << 8 | cdb[13];
        return Capacity(*t, a->Lun, true, data, std::min(dataSize, alloc), sense, senseSize);
    }
    return Check(sense, senseSize, 5, 0x20, 0); // invalid command operation code
}

} // namespace tsim
