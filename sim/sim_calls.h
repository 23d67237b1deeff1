// Plumbing of the simulated library's entry points: the loaded host and its
// handles, scripted faults, the journal, and the write accounting (power cut,
// operator interrupt). Shared by sim_api.cpp.
#pragma once

#include "sim_model.h"

#include <nlohmann/json.hpp>

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tsim {

struct Handle {
    int port = -1; // the instance; -1: closed
    bool aen = false;
};

// Process-wide state of the library.
struct State {
    std::unique_ptr<Host> host;
    bool attempted = false;
    std::string loadedFrom;
    std::string lastError;
    std::set<std::string> reported;
    // Handles are numbered from 0x100 on and never reused: handle
    // handleBase + i is handles[i]. The list starts again whenever no
    // handle is open.
    std::vector<Handle> handles;
    uint32_t handleBase = 0x100;
    size_t openHandles = 0;
    uint32_t nextHandle = 0x100;
    uint32_t nextSession = 1;
    uint64_t seq = 0;
    const char *detailKey = nullptr; // extra field of the current call's line
    uint32_t detailValue = 0;
};

State &S();

// The open handle of that number, or null.
Handle *FindHandle(uint32_t handle);

// Loads the host named by TORVEX_SIM_HOST on first use, and again when it
// names another file while no handle is open.
Host *GetHost();

std::string Hex32(uint32_t v);
std::string HexCode(uint32_t v);

// Appends one line to the journal (nothing when the journal is off).
void Journal(Host &h, nlohmann::json line);
void AddPortInfo(nlohmann::json &j, const Host &h, int port);

// Scripted fault for this call, if any (0: none).
uint32_t CheckFault(Host &h, const char *fn, int instance, std::optional<uint32_t> region, bool isWrite, bool isRead);

// Names what a call reads (its NVRAM parameter or region) on its journal
// line, for the call's duration.
struct CallDetail {
    CallDetail(const char *key, uint32_t value) {
        S().detailKey = key;
        S().detailValue = value;
    }
    ~CallDetail() { S().detailKey = nullptr; }
    CallDetail(const CallDetail &) = delete;
    CallDetail &operator=(const CallDetail &) = delete;
};

// Records a call in the journal when every call is to be recorded.
TVX_STATUS Done(Host *h, const char *fn, int port, TVX_STATUS st);

// Resolves a handle; on failure sets st.
Port *Resolve(uint32_t handle, Host *&h, int &port, TVX_STATUS &st);

TVX_STATUS CopyOut(char *text, uint32_t size, const std::string &s);

// The running firmware text of a port, from the flash as first seen.
void RefreshRunning(Host &h, Port &p);

// Journals a flash write with the digest of its data and counts it (power
// cut and operator interrupt after the scripted number of writes). r: the
// region of chip that now holds the data (null when nothing was stored
// through a region), so later writes of the same bytes reuse its digest.
uint32_t FinishWrite(Host &h, nlohmann::json &j, int port, const uint8_t *buffer, uint32_t size, uint32_t st,
                     Chip *chip = nullptr, const Region *r = nullptr);

// SCSI commands of the simulated targets (sim_scsi.cpp).
TVX_STATUS ScsiInquiry(Port &p, const TVX_SCSI_ADDRESS *a, uint8_t evpd, uint8_t page, uint8_t *data, uint32_t dataSize,
                       uint8_t *sense, uint32_t senseSize);
TVX_STATUS ScsiReportLuns(Port &p, const TVX_SCSI_ADDRESS *a, uint8_t *data, uint32_t dataSize, uint8_t *sense,
                          uint32_t senseSize);
TVX_STATUS ScsiReadCapacity(Port &p, const TVX_SCSI_ADDRESS *a, uint8_t *data, uint32_t dataSize, uint8_t *sense,
                            uint32_t senseSize);
TVX_STATUS ScsiPassThru(Port &p, const TVX_SCSI_ADDRESS *a, const uint8_t *cdb, uint32_t cdbLength, uint32_t direction,
                        uint8_t *data, uint32_t dataSize, uint8_t *sense, uint32_t senseSize);

} // namespace tsim
