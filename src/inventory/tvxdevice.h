// Device records and lists of the adapter inventory.
//
// TVXDevice: one opened library instance (adapter port).
// AdapterEntry: one record of the adapter list.
// The lists are doubly linked with a header (count, first, last); the
// device list, the HBA list and the adapter list are globals for the run.
#pragma once

#include <cstdint>
#include <span>

#include "devlib/device.h"
#include "torvex.h"

struct AdapterEntry {
    uint32_t instance;
    uint32_t physicalPort;
    uint32_t handle;
    uint8_t reserved;
    uint8_t pciDevice;
    uint8_t pciBus;
    uint8_t pciFunction;
    uint32_t beaconState;
    uint32_t enableStatus; // 1 when the supported-adapter table says TRUE
    uint16_t generation;   // 1 for cxrType 0-7, else 2
    uint16_t vPortId;
    uint16_t ssvid;
    uint16_t ssdid;
    uint16_t deviceId;
    uint16_t chipType;
    uint8_t nodeWWN[8];
    uint8_t portWWN[8];
    uint8_t enodeMAC[6];
    char model[32];
    char serialNo[32];
    char portWWNText[24];
    char nodeWWNText[24];
    char description[128];
    uint8_t portId[3];
    uint16_t interfaceKind;
    int16_t reserved16;
    uint16_t qosType;
    uint16_t entryFlag;
    uint16_t qosMode;
    uint16_t qosValue;
    uint32_t portSpeed;
    // The valid WWPNs of the device's virtual-port table up to the first
    // invalid one (24xx and later families): null when there are none, else
    // vPortWWPNCount records in one block owned by the entry.
    VPortWwpn *vPortWWPN;
    uint32_t vPortWWPNCount;
    char statusText[32];
    uint32_t updateResult;
    AdapterEntry *next;
    AdapterEntry *prev;
};

struct AdapterList {
    uint32_t count;
    AdapterEntry *first;
    AdapterEntry *last;
};

// The three lists of the run (defined in the inventory).
extern TVXDeviceList g_DeviceList; // one record per opened instance
extern TVXDeviceList g_HBAList;    // physical ports ordered by card
extern AdapterList g_AdapterList;  // one entry per port

// Discovery and list building.
int CoreOSSInitializeDevices();
void AddTVXDevice(uint32_t handle, uint32_t instance);
int CloseTVXDevice(TVXDevice *device);
void BuildHBADevices();
AdapterEntry *FindAdapterEntryForDevice(const TVXDevice *device);
void GetSerialNo(TVXDevice *device, char serial[32]);
int GetAdapterPciPhysicalPortNumber(TVXDevice *device);
int CountAdapterPorts(const TVXDevice *device);
int isMultiPortAdapter(const TVXDevice *device);
TVXDevice *FindAdapterPortMultiPortHBA(const TVXDevice *device);
int isAdapterSupported(const TVXDevice *device, uint16_t *chipType);
int UpdateHBADeviceNodeProperty(TVXDevice *device);
int SetAdapterEntryUpdateResult(const TVXDevice *device, uint32_t result);
void RemoveAllAdaptersFromAdapterList();
void InitAdapterList();
// Releases the device list, the HBA list and the adapter list (both steps
// below in order).
void CoreReleaseDevices();
// Cleanup step 1: every device-list record released with CloseTVXDevice,
// the device list header emptied.
void CoreReleaseDeviceList();
// Cleanup step 2: the HBA list records freed and its header zeroed, then
// the adapter list emptied with RemoveAllAdaptersFromAdapterList.
void CoreReleaseHBAList();

// Virtual-port tables of device records.
// Gives device a copy of wwpns (at most TVX_MAX_VPORTS of them) as its
// table, releasing the one it held; an empty span leaves it none. 0, or -1
// when the block cannot be allocated (the device then has no table).
int SetDeviceVPortTable(TVXDevice *device, std::span<const VPortWwpn> wwpns);
// Number of records in the device's table (0 without one).
uint32_t DeviceVPortCount(const TVXDevice *device);
// Frees a chain of record copies (the HBA list's, SortAdapterList's) with
// their tables; the records are not closed.
void FreeDeviceCopies(TVXDevice *first);

// Run-wide flags set while the lists are built.
extern int g_bFCoEEnginePresent;       // an FCoE-engine record was added
extern int g_bConvergedAdapterPresent; // an ENode MAC address was read

// List building steps (BuildHBADevices runs them in this order).
TVXDevice *SortAdapterList(TVXDeviceList *deviceList);
TVXDevice *BuildVornDeviceList(TVXDevice *first);
int BuildAdapterEntryList(TVXDevice *first);
int CreateAdapterEntryFromTVXDevice(TVXDevice *device, AdapterEntry *entry);

// Adapter list operations.
int AddAdapterToAdapterList(AdapterEntry *entry);    // ordered insert
int AddNewAdapterToAdapterList(AdapterEntry *entry); // append
int FindLocationInAdapterEntryList(const AdapterEntry *a, const AdapterEntry *b);
int IsAdapterEntryInList(const AdapterEntry *entry);
int CompareTVXDevicesByWWPN(const TVXDevice *a, const TVXDevice *b);

// Status of the node-property read (model name, versions) and of the read
// of NVRAM image 1 (subsystem IDs and boot settings) made when the device
// was opened; TVX_STATUS_OK when they succeeded or the device was not
// opened here. After a failure those fields hold blanks, not values.
uint32_t NodePropertyReadStatus(const TVXDevice *device);
uint32_t NvramReadStatus(const TVXDevice *device);

// NVRAM subsystem IDs of a device (library parameters 127 and 128 of NVRAM
// image 1); 0 when the library cannot give them.
uint16_t GetNvramSubsysVendorId(const TVXDevice *device);
uint16_t GetNvramSubsysDeviceId(const TVXDevice *device);
// ENode MAC address: the 6 bytes at offset 64 of NVRAM image 1; sets
// g_bConvergedAdapterPresent.
void GetDeviceMacAddress(const TVXDevice *device, uint8_t mac[6]);
// Serial numbers of two devices match: same length, case-insensitive,
// non-empty.
int SerialNumbersMatch(const char *a, const char *b);
// Serial number of a device: its adapter entry's, else GetSerialNo.
void GetDeviceSerial(TVXDevice *device, char serial[32]);
// HBA list record with the node WWN and port WWN of device, or null.
TVXDevice *FindHBAListRecord(const TVXDevice *device);
