// What the three data-file updates share: finding an adapter's data file,
// reading it, the adapter facts the builders need, the messages common to
// them, and the run over all adapters.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "datafiles/datgrammar.h"
#include "inventory/tvxdevice.h"

namespace datfile {

// Facts of the adapter that a region build checks the file against.
struct AdapterFacts {
    uint16_t ssvid = 0;
    uint16_t ssdid = 0;
    int cxrType = 0;
    uint16_t chipRevision = 0;
    uint32_t instance = 0;
    int port = 1;
    bool idsRead = true; // false: an NVRAM read failed, ssvid/ssdid are not the adapter's
};

// The facts of the adapter; the subsystem IDs are read from its NVRAM
// (vendor ID, then device ID).
AdapterFacts GetAdapterFacts(const TVXDevice *device);
// The status of a subsystem ID field when the adapter's IDs could not be
// read: the file can't be checked against the adapter, nor its IDs
// stamped, so it is refused (DAT_SSID_MISMATCH, traced under 'trace').
int UnreadableIds(const char *trace);
// The adapter's physical port number (1 when the library gives none); no
// library call.
int AdapterPort(const TVXDevice *device);

// Model text of the messages.
std::string ModelText(const TVXDevice *device);
bool IsVirtualPort(const TVXDevice *device);
// The driver version text as the inbox-driver test wants it.
std::string CleanDriverVersion(const TVXDevice *device);

// "Option is not available with virtual port HBA (...)!" with the WWPN.
void VirtualPortMessage(const TVXDevice *device);
// "Current command is not supported with HBA instance %d - %s!"
void NotSupportedMessage(const TVXDevice *device);
// "Option is unsupported with selected HBA (Instance %d - %s)!"
void UnsupportedMessage(const TVXDevice *device);
// "Unable to retrieve specified flash region area of this HBA (...)!"
void RegionReadMessage(const TVXDevice *device);

// Reads a whole data file: DAT_OK, DAT_CANNOT_OPEN, DAT_READ_ERROR, or
// DAT_BAD_SIZE above kMaxFileSize.
int ReadDataFile(const std::string &path, std::vector<uint8_t> &bytes);
// Size of a file opened for reading as bytes; -1 when it can't be opened.
long DataFileSize(const std::string &path);

// Zero-filled (or fill-filled) buffer; false when memory runs out.
bool AllocBuffer(std::vector<uint8_t> &buf, size_t size, uint8_t fill = 0);

// One adapter's flash region rebuilt from a data file and written back:
// what tells the data-file updates apart.
struct RegionRebuild {
    const char *name; // prefix of the Debug lines
    uint32_t region;
    bool (*accepts)(int cxrType); // else "not supported" (121)
    bool tellNoAdapter;           // "Unable to find the selected HBA!" when there is no adapter
    bool refuseInboxDriver;       // adapters of type 12 and up refuse the inbox driver (120)
    bool traceFileSize;           // the file size Debug line
    bool readFileFirst;           // the file's bytes are read (and their faults told) before the region
    bool traceRegionRead;         // the region read is traced; a failed size query is told as a failed read
    bool scratch;                 // a region-sized scratch buffer (0xFF) for the build
    // Reads the region into the buffer (its size): 0 or the failure.
    int (*read)(TVXDevice *device, std::span<uint8_t> buffer, uint32_t region, uint32_t *size);
    // Rebuilds the region from the file (its bytes where read first): DAT_OK or the failure.
    int (*build)(TVXDevice *device, const char *path, std::span<const uint8_t> file, std::span<uint8_t> region,
                 std::span<uint8_t> scratch);
    // The message of a failed file read or build.
    void (*failure)(const TVXDevice *device, const char *path, int status);
    const char *progress; // what the progress line "Updating %s of HBA instance %d - %s..." names
    const char *what;     // what the failed write's message names
    const char *success;  // the line after a good write
    uint32_t (*write)(TVXDevice *device, std::span<const uint8_t> region, uint32_t code, int cxrType);
    int writeFailed;   // status of a refused write
    int resetDisabled; // status of a write answered "reset disabled"
};

// The region read and write of the board configuration updates
// (getHBAOptionROMInfos, AppUpdateOptionRomEx2 without options).
int ReadBoardConfigRegion(TVXDevice *device, std::span<uint8_t> buffer, uint32_t region, uint32_t *size);
uint32_t WriteBoardConfigRegion(TVXDevice *device, std::span<const uint8_t> region, uint32_t code, int cxrType);

// The checks of the adapter and of the file, the region read, the build
// and the write of one data-file update of one adapter, with their
// messages: 0, spec.resetDisabled, or the status of the step that failed.
int RebuildRegionFromDataFile(const RegionRebuild &spec, TVXDevice *device, const char *path);

// How the run counts an adapter's result.
enum class Outcome { Done, Failed, Neither };

// One data-file update over all adapters: its name in the Debug lines,
// the skip trace (instance, model) of an adapter without a data file, the
// adapter filter, the per-adapter update, its counting and the run's
// failure status.
struct RunSpec {
    const char *name;
    const char *skipFormat;
    bool (*accepts)(const TVXDevice *device);
    int (*update)(TVXDevice *device, const char *path);
    Outcome (*count)(int status);
    int failStatus;
};

int RunDataFileUpdate(const RunSpec &spec, const char *fileName);

// The board-config runs' counting: 0, 214, 215 done, 213 neither.
Outcome CountBoardConfigResult(int status);

} // namespace datfile

// Path of fileName in the adapter's folder "x<ssvid>x<ssdid>" of the
// configuration directory; 1 when the file can be opened there, else 0.
int FindMatchingPayloadFile(const char *fileName, std::string &path, uint16_t ssdid, uint16_t ssvid);
