// What the three data-file updates share: finding an adapter's data file,
// reading it, the adapter facts the builders need, the messages common to
// them, and the run over all adapters.
#pragma once

#include <cstdint>
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
};

AdapterFacts GetAdapterFacts(const TVXDevice *device);
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
