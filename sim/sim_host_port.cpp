// Host description: the ports of a chip, with their properties, NVRAM
// images, targets and LUNs, port database and failover records.
#include "sim_file.h"
#include "sim_hostjson.h"

namespace tsim::hostfile {

namespace fs = std::filesystem;

namespace {

ScsiAnswer ParseAnswer(const json &j, const std::string &path) {
    ScsiAnswer a;
    if (j.is_string()) {
        static const struct {
            const char *name;
            uint32_t status;
            uint8_t k, asc, q;
        } names[] = {
            {"ready", 0, 0, 0, 0},
            {"ok", 0, 0, 0, 0},
            {"not_ready", TVX_ERR_TARGET_NOT_READY, 0, 0, 0},
            {"busy", TVX_ERR_BUSY, 0, 0, 0},
            {"timeout", TVX_ERR_SCSI_TIMEOUT, 0, 0, 0},
            {"transport", TVX_ERR_SCSI_TRANSPORT, 0, 0, 0},
            {"reservation", TVX_ERR_RESERVATION, 0, 0, 0},
            {"unit_attention", TVX_ERR_CHECK_CONDITION, 6, 0x29, 0},
            {"becoming_ready", TVX_ERR_CHECK_CONDITION, 2, 4, 1},
            {"access_denied", TVX_ERR_CHECK_CONDITION, 2, 0x20, 0},
            {"not_configured", TVX_ERR_CHECK_CONDITION, 2, 0x68, 0},
            {"no_media", TVX_ERR_CHECK_CONDITION, 2, 0x3A, 0},
            {"lun_not_supported", TVX_ERR_CHECK_CONDITION, 5, 0x25, 0},
            {"medium_error", TVX_ERR_CHECK_CONDITION, 3, 0x11, 0},
        };
        for (auto &n : names)
            if (j.get_ref<const std::string &>() == n.name) {
                a.status = n.status;
                a.key = n.k;
                a.asc = n.asc;
                a.ascq = n.q;
                return a;
            }
        a.status = StatusValue(j, path);
        return a;
    }
    Obj o(j, path);
    a.status = uint32_t(o.Num("status", TVX_ERR_CHECK_CONDITION, 0, 0xFFFFFFFFu));
    if (const json *s = o.Array("sense")) {
        if (s->size() != 3) Fail(o.Path("sense"), "expected [key, asc, ascq]");
        a.key = uint8_t(ToNumber((*s)[0], o.Path("sense[0]"), 0, 15));
        a.asc = uint8_t(ToNumber((*s)[1], o.Path("sense[1]"), 0, 255));
        a.ascq = uint8_t(ToNumber((*s)[2], o.Path("sense[2]"), 0, 255));
    }
    o.Finish();
    return a;
}

// The answer list of field k of o (its path is made only when it is there).
std::vector<ScsiAnswer> ParseAnswers(Obj &o, const char *k) {
    std::vector<ScsiAnswer> v;
    const json *j = o.Array(k);
    if (!j) return v;
    const std::string path = o.Path(k);
    for (size_t i = 0; i < j->size(); ++i)
        v.push_back(ParseAnswer((*j)[i], path + "[" + std::to_string(i) + "]"));
    return v;
}

void ParseNvram(const json *j, const std::string &path, uint8_t *nv, const fs::path &hostDir) {
    if (!j) return;
    Obj o(*j, path);
    if (const json *f = o.Get("file")) {
        if (!f->is_string()) Fail(o.Path("file"), "expected a file name");
        fs::path p = f->get<std::string>();
        if (!p.is_absolute()) p = hostDir / p;
        File in = OpenFile(p, "rb");
        if (!in) Fail(o.Path("file"), "cannot read " + p.string());
        ReadBytes(in.get(), nv, TVX_NVRAM_SIZE); // a shorter file fills the start
    }
    if (const json *b = o.Get("bytes")) {
        if (!b->is_object()) Fail(o.Path("bytes"), "expected an object of offset: hex bytes");
        for (auto it = b->begin(); it != b->end(); ++it) {
            std::string p = o.Path("bytes") + "." + it.key();
            uint64_t off = ToNumber(json(it.key()), p, 0, TVX_NVRAM_SIZE - 1);
            Bytes v = ToBytes(*it, p, 1, TVX_NVRAM_SIZE);
            if (off + v.size() > TVX_NVRAM_SIZE) Fail(p, "bytes run past the 512-byte image");
            std::memcpy(nv + off, v.data(), v.size());
        }
    }
    if (const json *pm = o.Get("params")) {
        if (!pm->is_object()) Fail(o.Path("params"), "expected an object of parameter: value");
        for (auto it = pm->begin(); it != pm->end(); ++it) {
            std::string p = o.Path("params") + "." + it.key();
            uint64_t n = ToNumber(json(it.key()), p, 1, 255);
            if (n == TVX_NVRAM_PARAM_SSVID || n == TVX_NVRAM_PARAM_SSDID) {
                uint64_t v = ToNumber(*it, p, 0, 0xFFFF);
                size_t off = n == TVX_NVRAM_PARAM_SSVID ? 0x0C : 0x0E;
                nv[off] = uint8_t(v);
                nv[off + 1] = uint8_t(v >> 8);
            } else if (it->is_string() && it->get<std::string>().find(':') != std::string::npos) {
                Bytes v = ToBytes(*it, p, 1, 32); // consecutive parameters from n on
                for (size_t i = 0; i < v.size(); ++i) {
                    size_t q = n + i;
                    if (q > 255 || q == 127 || q == 128) Fail(p, "byte run crosses parameter 127/128 or 255");
                    nv[0x100 + q] = v[i];
                }
            } else {
                nv[0x100 + n] = uint8_t(ToNumber(*it, p, 0, 255));
            }
        }
    }
    o.Finish();
}

PortDbEntry ParseDbEntry(const json &j, const std::string &path) {
    Obj o(j, path);
    PortDbEntry e;
    CopyWwn(e.nodeWwn, o.Hex("node_wwn", Bytes(8, 0), 8, 8));
    CopyWwn(e.portWwn, o.Hex("port_wwn", Bytes(8, 0), 8, 8));
    Bytes pid = o.Hex("port_id", Bytes(3, 0), 3, 3);
    std::memcpy(e.portId, pid.data(), 3);
    e.word1 = uint16_t(o.Num("word1", 0, 0, 0xFFFF));
    e.word2 = uint16_t(o.Num("word2", 0, 0, 0xFFFF));
    e.marker = uint8_t(o.Num("marker", 0, 0, 255));
    o.Finish();
    return e;
}

// A LUN of that number with every field at its default.
Lun DefaultLun(const Target &t, uint16_t number) {
    Lun l;
    l.number = number;
    l.inquiry.fill(' ');
    l.inquiry[0] = 0;
    l.inquiry[1] = 0;
    l.inquiry[2] = 5;
    l.inquiry[3] = 2;
    l.inquiry[4] = 31;
    l.inquiry[5] = l.inquiry[6] = l.inquiry[7] = 0;
    std::memcpy(l.inquiry.data() + 8, "SIMSTOR ", 8);
    std::memcpy(l.inquiry.data() + 16, "VDISK           ", 16);
    std::memcpy(l.inquiry.data() + 32, "0001", 4);
    const uint8_t id[8] = {0x60, 0x01, 0xD7, 0xA0, t.portWwn[6], t.portWwn[7], uint8_t(number >> 8), uint8_t(number)};
    l.deviceId.assign(id, sizeof id);
    l.blocks = 0x200000;
    return l;
}

void ParseTarget(const json &j, const std::string &path, Target &t, int index) {
    Obj o(j, path);
    Bytes defPort = {0x50, 0x06, 0x0B, 0x00, 0x00, 0x00, 0x10, uint8_t(index)};
    Bytes defNode = defPort;
    defNode[0] = 0x50;
    defNode[6] = 0x00;
    CopyWwn(t.portWwn, o.Hex("port_wwn", defPort, 8, 8));
    CopyWwn(t.nodeWwn, o.Hex("node_wwn", defNode, 8, 8));
    Bytes pid = o.Hex("port_id", Bytes{0x01, 0x00, uint8_t(0xE0 + index)}, 3, 3);
    std::memcpy(t.portId, pid.data(), 3);
    t.word1 = uint16_t(o.Num("word1", uint64_t(index), 0, 0xFFFF));
    t.word2 = uint16_t(o.Num("word2", 0, 0, 0xFFFF));
    t.marker = uint8_t(o.Num("marker", 0, 0, 255));
    t.discovered = o.Bool("discovered", true);
    t.reportLuns = ParseAnswers(o, "report_luns");
    const json *luns = o.Array("luns");
    if (luns) {
        const std::string lunsPath = o.Path("luns");
        t.luns.reserve(luns->size());
        for (size_t i = 0; i < luns->size(); ++i) {
            const json &entry = (*luns)[i];
            if (entry.is_object() && entry.empty()) { // {}: every field takes its default
                t.luns.push_back(DefaultLun(t, uint16_t(i)));
                continue;
            }
            Obj lo(entry, lunsPath, i);
            Lun l;
            l.number = uint16_t(lo.Num("lun", i, 0, 0x3FFF));
            LunScript script;
            script.tur = ParseAnswers(lo, "tur");
            if (const json *tt = lo.Get("tur_then")) script.turThen = ParseAnswer(*tt, lo.Path("tur_then"));
            l.reserved = lo.Bool("reserved", false);
            uint8_t type = uint8_t(lo.Num("type", 0, 0, 0x1F));
            uint8_t qual = uint8_t(lo.Num("qualifier", 0, 0, 7));
            std::string vendor = lo.Str("vendor", "SIMSTOR", 8), product = lo.Str("product", "VDISK", 16),
                        rev = lo.Str("revision", "0001", 4);
            l.inquiry.fill(' ');
            l.inquiry[0] = uint8_t((qual << 5) | type);
            l.inquiry[1] = 0;
            l.inquiry[2] = 5;
            l.inquiry[3] = 2;
            l.inquiry[4] = 31;
            l.inquiry[5] = l.inquiry[6] = l.inquiry[7] = 0;
            std::memcpy(l.inquiry.data() + 8, vendor.data(), vendor.size());
            std::memcpy(l.inquiry.data() + 16, product.data(), product.size());
            std::memcpy(l.inquiry.data() + 32, rev.data(), rev.size());
            if (const json *ih = lo.Get("inquiry_hex")) {
                Bytes inq = ToBytes(*ih, lo.Path("inquiry_hex"), 36, 36);
                std::copy(inq.begin(), inq.end(), l.inquiry.begin());
            }
            l.inquiryStatus = uint32_t(lo.Num("inquiry_status", 0, 0, 0xFFFFFFFFu));
            if (const json *naa = lo.Get("naa")) {
                Bytes id = ToBytes(*naa, lo.Path("naa"), 8, 16);
                l.deviceId.assign(id.data(), id.size());
            } else {
                const uint8_t id[8] = {
                    0x60, 0x01, 0xD7, 0xA0, t.portWwn[6], t.portWwn[7], uint8_t(l.number >> 8), uint8_t(l.number)};
                l.deviceId.assign(id, sizeof id);
            }
            l.blocks = lo.Num("blocks", 0x200000, 0, UINT64_MAX);
            l.blockSize = uint32_t(lo.Num("block_size", 512, 1, 0x100000));
            script.capacity = ParseAnswers(lo, "capacity");
            if (!script.tur.empty() || script.turThen.status != 0 || !script.capacity.empty())
                l.script = std::make_unique<LunScript>(std::move(script));
            lo.Finish();
            t.luns.push_back(std::move(l));
        }
    } else {
        t.luns.push_back(DefaultLun(t, 0));
    }
    o.Finish();
}

} // namespace

void ParsePort(const json &j, const std::string &path, Port &p, const Defaults &d, int fn, int bus, int slot,
               const fs::path &hostDir) {
    Obj o(j, path);
    std::string open = o.Str("open", "ready", 16);
    if (open == "ready")
        p.openMode = Port::Ready;
    else if (open == "not_ready")
        p.openMode = Port::NotReady;
    else if (open == "fail")
        p.openMode = Port::Fail;
    else if (open == "unsupported") {
        p.openMode = Port::NotReady;
        p.notReadyLeft = INT32_MAX;
    } else
        Fail(o.Path("open"), "expected ready, not_ready, unsupported or fail");
    if (p.openMode == Port::NotReady && open == "not_ready")
        p.notReadyLeft = int(o.Num("not_ready_count", 1, 0, INT32_MAX));
    else if (o.Has("not_ready_count"))
        Fail(o.Path("not_ready_count"), "only with open: not_ready");
    else
        o.Get("not_ready_count");
    p.openFailStatus = uint32_t(o.Num("open_status", TVX_ERR_GENERAL, 1, 0xFFFFFFFFu));

    uint8_t c = uint8_t(d.cardIndex), ch = uint8_t(p.chipIndex), pi = uint8_t(p.portIndex);
    Bytes defPort = {0x21, 0x00, 0x00, 0x1D, 0x7A, c, ch, pi};
    Bytes defNode = {0x20, 0x00, 0x00, 0x1D, 0x7A, c, ch, pi};

    // PCI identity
    {
        Obj q(OrEmpty(o.Get("pci")), o.Path("pci"));
        TVX_CHIP_PROPERTY &cp = p.chipProp;
        cp.PciVendorId = uint16_t(q.Num("vendor_id", 0x1D7A, 0, 0xFFFF));
        cp.PciDeviceId = uint16_t(q.Num("device_id", d.deviceId, 0, 0xFFFF));
        cp.SubsysVendorId = uint16_t(q.Num("subsys_vendor", d.ssvid, 0, 0xFFFF));
        cp.SubsysDeviceId = uint16_t(q.Num("subsys_device", d.ssdid, 0, 0xFFFF));
        cp.PciBusNumber = uint16_t(q.Num("bus", uint64_t(bus), 0, 0xFFFF));
        cp.PciSlotNumber = uint16_t(q.Num("slot", uint64_t((slot & 15) | ((fn & 7) << 5)), 0, 0xFFFF));
        cp.ChipType = uint16_t(q.Num("chip_type", 0x54, 0, 0xFFFF));
        cp.ApiPortNumber = uint8_t(q.Num("api_port", 0, 0, 255));
        cp.PcieLinkCap = uint16_t(q.Num("link_cap", 0x82, 0, 0xFFFF));
        cp.PcieLinkStat = uint16_t(q.Num("link_stat", 0x82, 0, 0xFFFF));
        q.Finish();
    }
    std::string drv;
    {
        Obj q(OrEmpty(o.Get("driver")), o.Path("driver"));
        TVX_DRIVER_PROPERTY &dp = p.driverProp;
        drv = q.Str("version", "9.2.3.20", 31);
        CopyText(dp.DriverVersion, sizeof dp.DriverVersion, drv);
        dp.LunsPerTarget = uint16_t(q.Num("luns_per_target", 256, 0, 0xFFFF));
        dp.NumberOfBuses = uint16_t(q.Num("buses", 1, 0, 0xFFFF));
        CopyText(dp.OsName, sizeof dp.OsName, q.Str("os", "Windows Server 2019", 63));
        q.Finish();
    }
    {
        Obj q(OrEmpty(o.Get("node")), o.Path("node"));
        TVX_NODE_PROPERTY &np = p.nodeProp;
        CopyWwn(np.NodeWWN, q.Hex("wwn", defNode, 8, 8));
        CopyText(np.Model, sizeof np.Model, q.Str("model", d.model, 31));
        unsigned n = 100000u + unsigned(d.cardIndex) * 10u + 1u;
        Bytes defSer = {uint8_t(n >> 16), uint8_t(n & 0xFF), uint8_t((n >> 8) & 0xFF)};
        Bytes ser = q.Hex("serial_bytes", defSer, 3, 3);
        std::memcpy(np.SerialNum, ser.data(), 3);
        CopyText(np.DriverVersion, sizeof np.DriverVersion, q.Str("driver_version", drv, 31));
        if (const json *x = q.Get("firmware_version")) {
            if (!x->is_string() || x->get<std::string>().size() > 23)
                Fail(q.Path("firmware_version"), "expected a text of at most 23 characters");
            CopyText(np.FirmwareVersion, sizeof np.FirmwareVersion, x->get<std::string>());
            p.autoRunningFw = false;
            p.runningFwFixed = true;
        }
        if (const json *x = q.Get("optrom_version")) {
            if (!x->is_string() || x->get<std::string>().size() > 39)
                Fail(q.Path("optrom_version"), "expected a text of at most 39 characters");
            CopyText(np.OptRomVersion, sizeof np.OptRomVersion, x->get<std::string>());
            p.autoOptRom = false;
        }
        if (auto f = q.OptNum("flash_flags", 0, 0xFFFFFFFFu)) {
            np.FlashImageFlags = uint32_t(*f);
            p.autoFlags = false;
        }
        if (const json *x = q.Get("flash_fw")) {
            ParseVersion(*x, q.Path("flash_fw"), np.FlashFwVersion, 3);
            p.autoFw = false;
        }
        if (const json *x = q.Get("flash_efi")) {
            ParseVersion(*x, q.Path("flash_efi"), np.FlashEfiVersion, 2);
            p.autoEfi = false;
        }
        if (const json *x = q.Get("flash_fcode")) {
            ParseVersion(*x, q.Path("flash_fcode"), np.FlashFcodeVersion, 3);
            p.autoFcode = false;
        }
        if (const json *x = q.Get("running_mpi")) ParseVersion(*x, q.Path("running_mpi"), np.RunningMpiVersion, 3);
        if (const json *x = q.Get("running_pep")) ParseVersion(*x, q.Path("running_pep"), np.RunningPepVersion, 3);
        if (const json *x = q.Get("flash_mpi")) {
            ParseVersion(*x, q.Path("flash_mpi"), np.FlashMpiVersion, 3);
            if (p.autoFlags) np.FlashImageFlags |= TVX_FLASH_IMAGE_MPI;
        }
        if (const json *x = q.Get("flash_pep")) {
            ParseVersion(*x, q.Path("flash_pep"), np.FlashPepVersion, 3);
            if (p.autoFlags) np.FlashImageFlags |= TVX_FLASH_IMAGE_PEP;
        }
        np.VirtualPortId = uint16_t(q.Num("vport_id", 0, 0, 0xFFFF));
        np.InterfaceKind = uint16_t(q.Num("interface", TVX_INTERFACE_PHYSICAL, 0, 0xFFFF));
        q.Finish();
    }
    {
        Obj q(OrEmpty(o.Get("port")), o.Path("port"));
        TVX_PORT_PROPERTY &pp = p.portProp;
        CopyWwn(pp.PortWWN, q.Hex("wwn", defPort, 8, 8));
        Bytes pid = q.Hex("port_id", Bytes{0x01, uint8_t(0x10 + c), uint8_t(ch * 4 + pi)}, 3, 3);
        std::memcpy(pp.PortId, pid.data(), 3);
        pp.PortSpeed = uint32_t(q.Num("speed", 8, 0, 0xFFFFFFFFu));
        pp.PortState = uint16_t(q.Num("state", TVX_PORT_STATE_UP, 0, 0xFFFF));
        pp.ConnectionMode = uint16_t(q.Num("mode", 1, 0, 0xFFFF));
        pp.LinkState2 = uint16_t(q.Num("link_state2", 0, 0, 0xFFFF));
        pp.LinkState3 = uint16_t(q.Num("link_state3", 0, 0, 0xFFFF));
        pp.LinkState6 = uint16_t(q.Num("link_state6", 0, 0, 0xFFFF));
        if (auto tc = q.OptNum("target_count", 0, 0xFFFF)) {
            pp.DiscoveredTargetCount = uint16_t(*tc);
            p.autoTargetCount = false;
        }
        q.Finish();
    }
    // beacon: absent reads 0; null means the port has no beacon control.
    if (const json *b = o.Get("beacon"))
        p.beacon = uint32_t(ToNumber(*b, o.Path("beacon"), 0, 0xFFFFFFFFu));
    else if (!j.contains("beacon"))
        p.beacon = 0;
    if (const json *s = o.Array("statistics")) {
        if (s->size() > 16) Fail(o.Path("statistics"), "at most 16 counters");
        for (size_t i = 0; i < s->size(); ++i)
            p.stats.Counters[i] =
                ToNumber((*s)[i], o.Path("statistics") + "[" + std::to_string(i) + "]", 0, UINT64_MAX);
    }
    p.aenSupported = o.Bool("aen", true);

    // NVRAM images: signature, subsystem IDs, ENode MAC, then the host's values.
    for (int k = 0; k < 2; ++k) {
        uint8_t *nv = p.nvram[k];
        std::memcpy(nv, "ISP ", 4);
        nv[4] = 1;
    }
    uint8_t *nv1 = p.nvram[0];
    nv1[0x0C] = uint8_t(p.chipProp.SubsysVendorId);
    nv1[0x0D] = uint8_t(p.chipProp.SubsysVendorId >> 8);
    nv1[0x0E] = uint8_t(p.chipProp.SubsysDeviceId);
    nv1[0x0F] = uint8_t(p.chipProp.SubsysDeviceId >> 8);
    uint8_t mac[6] = {0x00, 0x1D, 0x7A, p.portProp.PortWWN[5], p.portProp.PortWWN[6], p.portProp.PortWWN[7]};
    std::memcpy(nv1 + 64, mac, 6);
    ParseNvram(o.Get("nvram1"), o.Path("nvram1"), p.nvram[0], hostDir);
    ParseNvram(o.Get("nvram2"), o.Path("nvram2"), p.nvram[1], hostDir);

    if (const json *f = o.Array("features")) {
        for (size_t i = 0; i < f->size(); ++i) {
            Obj fo((*f)[i], o.Path("features") + "[" + std::to_string(i) + "]");
            TVX_FEATURE_ENTRY e{};
            e.Kind = uint32_t(fo.Num("kind", 0, 0, 0xFFFFFFFFu));
            e.Value = uint32_t(fo.Num("value", 0, 0, 0xFFFFFFFFu));
            CopyText(e.Name, sizeof e.Name, fo.Str("name", "", 79));
            fo.Finish();
            p.features.push_back(e);
        }
    } else {
        TVX_FEATURE_ENTRY a{}, b{};
        a.Kind = 1;
        a.Value = 1;
        CopyText(a.Name, sizeof a.Name, "NPIV");
        b.Kind = 4;
        b.Value = 0;
        CopyText(b.Name, sizeof b.Name, "Failover");
        p.features = {a, b};
    }
    if (const json *t = o.Array("targets")) {
        for (size_t i = 0; i < t->size(); ++i) {
            Target tg;
            ParseTarget((*t)[i], o.Path("targets") + "[" + std::to_string(i) + "]", tg, int(i));
            p.targets.push_back(std::move(tg));
        }
    }
    if (const json *db = o.Get("port_db")) {
        Obj dbo(*db, o.Path("port_db"));
        for (const char *mode : {"7", "8", "16"}) {
            if (const json *l = dbo.Array(mode)) {
                auto &v = p.portDb[uint32_t(std::stoul(mode))];
                for (size_t i = 0; i < l->size(); ++i)
                    v.push_back(ParseDbEntry((*l)[i], dbo.Path(mode) + "[" + std::to_string(i) + "]"));
                if (std::string(mode) == "7") p.portDbFromTargets = false;
            }
        }
        dbo.Finish();
    }
    if (const json *ft = o.Array("fo_targets")) {
        for (size_t i = 0; i < ft->size(); ++i) {
            Obj fo((*ft)[i], o.Path("fo_targets") + "[" + std::to_string(i) + "]");
            TVX_FO_TARGET_DATA r{};
            CopyWwn(r.NodeWWN, fo.Hex("node_wwn", Bytes(8, 0), 8, 8));
            CopyWwn(r.PortWWN, fo.Hex("port_wwn", Bytes(8, 0), 8, 8));
            Bytes pid = fo.Hex("port_id", Bytes(3, 0), 3, 3);
            std::memcpy(r.PortId, pid.data(), 3);
            r.TargetId = uint16_t(fo.Num("target_id", i, 0, 0xFFFF));
            r.Flags = uint16_t(fo.Num("flags", 0, 0, 0xFFFF));
            fo.Finish();
            p.foTargets.push_back(r);
        }
    }
    if (const json *fl = o.Array("fo_luns")) {
        for (size_t i = 0; i < fl->size(); ++i) {
            Obj fo((*fl)[i], o.Path("fo_luns") + "[" + std::to_string(i) + "]");
            TVX_FO_LUN_DATA r{};
            CopyWwn(r.PortWWN, fo.Hex("port_wwn", Bytes(8, 0), 8, 8));
            r.Lun = uint16_t(fo.Num("lun", 0, 0, 0xFFFF));
            r.Flags = uint16_t(fo.Num("flags", 0, 0, 0xFFFF));
            fo.Finish();
            p.foLuns.push_back(r);
        }
    }
    IndexTargets(p);
    if (p.autoTargetCount) p.portProp.DiscoveredTargetCount = uint16_t(p.discoveredTargets.size());
    o.Finish();
}

} // namespace tsim::hostfile
