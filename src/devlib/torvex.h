/*
 * torvex.h - C interface of the adapter maker's device-management library
 * (torvex.dll on Windows, libtorvex.so on Linux).
 *
 * Every operation returns a 32-bit status: TVX_STATUS_OK (0) on success,
 * any other value is a failure whose text TvxGetErrorString gives.
 * The first argument of every device operation is the handle returned by
 * TvxOpenDevice. Arguments documented as "0" are reserved and passed as 0.
 *
 * All records below are plain C structures with natural alignment; the
 * program only reads the fields named here. Texts are NUL-terminated within
 * their arrays; the library never writes past an array.
 */
#ifndef TORVEX_H
#define TORVEX_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#if defined(TORVEX_BUILD)
#define TVX_API __declspec(dllexport)
#else
#define TVX_API __declspec(dllimport)
#endif
#else
#define TVX_API __attribute__((visibility("default")))
#endif

typedef uint32_t TVX_STATUS;

/* ---- Status values ---------------------------------------------------- */
#define TVX_STATUS_OK 0x00000000u
#define TVX_ERR_GENERAL 0x20000001u          /* unspecified failure */
#define TVX_ERR_INVALID_HANDLE 0x20000002u   /* handle not open */
#define TVX_ERR_INVALID_PARAMETER 0x20000003u /* null pointer, bad value */
#define TVX_ERR_NOT_SUPPORTED 0x20000004u    /* operation not supported */
#define TVX_ERR_INVALID_REGION 0x20000005u   /* region not in the layout */
#define TVX_ERR_INVALID_SIZE 0x20000006u     /* size not allowed for region */
#define TVX_ERR_FLASH_WRITE 0x20000007u      /* flash write failed */
#define TVX_ERR_FLASH_READ 0x20000008u       /* flash read failed */
#define TVX_ERR_NO_MEMORY 0x20000009u        /* library out of memory */
#define TVX_ERR_CHECK_CONDITION 0x20000040u  /* SCSI check condition, sense valid */
#define TVX_ERR_RESERVATION 0x20000045u      /* LUN reserved (reservation conflict) */
#define TVX_ERR_ONLINE_UPDATE_FAILED 0x20000063u /* online update failed at its end */
#define TVX_ERR_BUSY 0x20000067u             /* busy, MPI reset pending: wait, retry */
#define TVX_ERR_DATA_UNDERRUN 0x2000006Bu    /* SCSI data underrun */
#define TVX_ERR_DATA_OVERRUN 0x2000006Cu     /* SCSI data overrun */
#define TVX_ERR_NO_MORE_DEVICES 0x2000006Du  /* no device at this instance */
#define TVX_ERR_NOT_READY 0x20000071u        /* device not ready yet: retry */
#define TVX_ERR_BUFFER_TOO_SMALL 0x20000072u /* buffer too small, count returned */
#define TVX_ERR_RESET_PENDING 0x20000075u    /* adapter (chip) reset pending: wait, retry */
#define TVX_ERR_SCSI_RESIDUAL 0x20000077u    /* SCSI command completed with residual */
#define TVX_ERR_SCSI_TIMEOUT 0x20000079u     /* SCSI command timed out: retry */
#define TVX_ERR_TARGET_NOT_READY 0x2000007Bu /* target failed TEST UNIT READY */
#define TVX_ERR_SCSI_TRANSPORT 0x2000007Cu   /* transport error: retry */
#define TVX_ERR_SESSION_OPEN 0x200000C0u     /* an online update session is already open */
#define TVX_ERR_RESET_DISABLED 0x20000100u   /* reset disabled by library: update done */

/* ---- Property blocks -------------------------------------------------- */
typedef struct TVX_CHIP_PROPERTY {
    uint16_t PciVendorId;
    uint16_t PciDeviceId;        /* selects the adapter family */
    uint16_t SubsysVendorId;
    uint16_t SubsysDeviceId;
    uint16_t PciBusNumber;
    uint16_t PciSlotNumber;      /* bits 0-3 device number, bits 5-7 function */
    uint16_t ChipType;           /* chip revision code */
    uint8_t ApiPortNumber;       /* port number the library assigns (0 unknown) */
    uint8_t Reserved1;
    uint16_t PcieLinkCap;        /* bits 0-3 speed code, bits 4-9 width */
    uint16_t PcieLinkStat;       /* bits 0-3 speed code, bits 4-9 width */
    uint8_t Reserved[32];
} TVX_CHIP_PROPERTY;

typedef struct TVX_DRIVER_PROPERTY {
    char DriverVersion[32];
    uint16_t LunsPerTarget;      /* 0: the driver does not report it */
    uint16_t NumberOfBuses;
    char OsName[64];
    uint8_t Reserved[32];
} TVX_DRIVER_PROPERTY;

/* Flash image presence flags of TVX_NODE_PROPERTY.FlashImageFlags */
#define TVX_FLASH_IMAGE_FW 0x00000001u
#define TVX_FLASH_IMAGE_EFI 0x00000002u
#define TVX_FLASH_IMAGE_FCODE 0x00000004u
#define TVX_FLASH_IMAGE_MPI 0x00000020u
#define TVX_FLASH_IMAGE_PEP 0x00000040u

/* Interface kinds of TVX_NODE_PROPERTY.InterfaceKind */
#define TVX_INTERFACE_PHYSICAL 1
#define TVX_INTERFACE_VIRTUAL 3
#define TVX_INTERFACE_FCOE_ENGINE 4

typedef struct TVX_NODE_PROPERTY {
    uint8_t NodeWWN[8];
    char Model[32];
    uint8_t SerialNum[3];        /* b0, b1, b2 of the factory serial number */
    uint8_t Reserved1;
    char DriverVersion[32];
    char FirmwareVersion[24];    /* running firmware version text */
    char OptRomVersion[40];      /* option-ROM version area: BIOS version text */
    uint32_t FlashImageFlags;    /* TVX_FLASH_IMAGE_* */
    uint8_t FlashFwVersion[3];   /* major, minor, sub */
    uint8_t FlashEfiVersion[2];  /* major, minor */
    uint8_t FlashFcodeVersion[3];
    uint8_t RunningMpiVersion[3];
    uint8_t RunningPepVersion[3];
    uint8_t FlashMpiVersion[3];
    uint8_t FlashPepVersion[3];
    uint16_t VirtualPortId;
    uint16_t InterfaceKind;      /* TVX_INTERFACE_* */
    uint8_t Reserved[32];
} TVX_NODE_PROPERTY;

/* Port states of TVX_PORT_PROPERTY.PortState */
#define TVX_PORT_STATE_UP 1
#define TVX_PORT_STATE_DOWN 2
#define TVX_PORT_STATE_LOOP_DOWN 3

typedef struct TVX_PORT_PROPERTY {
    uint8_t PortWWN[8];
    uint8_t PortId[3];           /* fabric port ID */
    uint8_t Reserved1;
    uint32_t PortSpeed;          /* 1,2,3(auto),4,8,16(10G),22(16G),32(20G),50(32G) */
    uint16_t PortState;          /* TVX_PORT_STATE_* */
    uint16_t ConnectionMode;     /* 1 point to point, 2 loop */
    uint16_t LinkState2;
    uint16_t LinkState3;         /* bit 15: forward error correction active */
    uint16_t LinkState6;         /* the link field after LinkState3 */
    uint16_t DiscoveredTargetCount;
    uint8_t Reserved[32];
} TVX_PORT_PROPERTY;

typedef struct TVX_STATISTICS {
    uint64_t Counters[16];
} TVX_STATISTICS;

/* ---- NVRAM ------------------------------------------------------------ */
#define TVX_NVRAM_SIZE 512
#define TVX_NVRAM_PARAM_SSVID 127
#define TVX_NVRAM_PARAM_SSDID 128

/* ---- Feature list ----------------------------------------------------- */
/* Header of 4 bytes then Count entries of 88 bytes: 92 + (Count-1)*88. */
typedef struct TVX_FEATURE_ENTRY {
    uint32_t Kind;
    uint32_t Value;
    char Name[80];
} TVX_FEATURE_ENTRY;
typedef struct TVX_FEATURE_LIST {
    uint32_t Count;              /* in: entries the buffer holds; out: entries available */
    TVX_FEATURE_ENTRY Entry[1];
} TVX_FEATURE_LIST;

/* ---- Flash ------------------------------------------------------------ */
typedef struct TVX_REGION_ENTRY {
    uint32_t Region;             /* flash region code */
    uint32_t Size;               /* region size in bytes */
} TVX_REGION_ENTRY;
/* Buffer of 8 + 8*Count bytes. On input Size is the buffer's byte size.
 * A buffer too small gets TVX_ERR_BUFFER_TOO_SMALL with Count set. */
typedef struct TVX_OPTION_ROM_LAYOUT {
    uint32_t Size;
    uint32_t Count;
    TVX_REGION_ENTRY Region[1];
} TVX_OPTION_ROM_LAYOUT;

typedef struct TVX_ACTIVE_REGIONS {
    uint8_t ActiveGlobalRegions; /* 1 primary, 2 secondary, 0 unknown */
    uint8_t ActiveBoardConfig;
    uint8_t ActiveVpdNvram;
    uint8_t ActiveNpivConfig01;
    uint8_t ActiveNpivConfig23;
    uint8_t Reserved[3];
} TVX_ACTIVE_REGIONS;

/* ---- Targets ---------------------------------------------------------- */
typedef struct TVX_DISC_TARGET_PROPERTY {
    uint8_t NodeWWN[8];
    uint8_t PortWWN[8];
    uint8_t PortId[3];
    uint8_t Reserved1;
    uint16_t AddressWord1;
    uint16_t AddressWord2;
    uint8_t Marker;              /* 1: the target is marked */
    uint8_t Reserved[31];
} TVX_DISC_TARGET_PROPERTY;

/* Port database: header of 8 bytes + Count entries of 290 bytes, the
 * buffer being at least 298 bytes (room for one entry). Entries are
 * packed byte records, read with the offsets below. */
#define TVX_PORTDB_HEADER_SIZE 8
#define TVX_PORTDB_ENTRY_SIZE 290
#define TVX_PORTDB_OFF_NODEWWN 0
#define TVX_PORTDB_OFF_PORTWWN 8
#define TVX_PORTDB_OFF_PORTID 16
#define TVX_PORTDB_OFF_WORD1 20   /* u16 little-endian */
#define TVX_PORTDB_OFF_WORD2 22   /* u16 little-endian */
#define TVX_PORTDB_OFF_MARKER 24
#define TVX_PORTDB_MODE_KNOWN 7
#define TVX_PORTDB_MODE_FABRIC 8
#define TVX_PORTDB_MODE_LOOP 16

typedef struct TVX_SCSI_ADDRESS {
    uint16_t AddressType;        /* 2: by port WWN */
    uint8_t PortWWN[8];
    uint16_t Lun;
} TVX_SCSI_ADDRESS;

/* Failover target data: one record per persisted target. */
typedef struct TVX_FO_TARGET_DATA {
    uint8_t NodeWWN[8];
    uint8_t PortWWN[8];
    uint8_t PortId[3];
    uint8_t Reserved1;
    uint16_t TargetId;
    uint16_t Flags;
} TVX_FO_TARGET_DATA;
typedef struct TVX_FO_LUN_DATA {
    uint8_t PortWWN[8];
    uint16_t Lun;
    uint16_t Flags;
} TVX_FO_LUN_DATA;

/* ---- Device and library ----------------------------------------------- */
TVX_API TVX_STATUS TvxOpenDevice(uint32_t instance, uint32_t *handle);
TVX_API TVX_STATUS TvxCloseDevice(uint32_t handle);
TVX_API TVX_STATUS TvxEnableAen(uint32_t handle);
TVX_API TVX_STATUS TvxDisableAen(uint32_t handle);
TVX_API TVX_STATUS TvxGetVersion(char *text, uint32_t size);
TVX_API TVX_STATUS TvxGetErrorString(TVX_STATUS status, char *text, uint32_t size);

/* ---- Properties ------------------------------------------------------- */
TVX_API TVX_STATUS TvxGetHbaDeviceChipProperty(uint32_t handle, TVX_CHIP_PROPERTY *out);
TVX_API TVX_STATUS TvxGetHbaDeviceDriverProperty(uint32_t handle, TVX_DRIVER_PROPERTY *out);
TVX_API TVX_STATUS TvxGetHbaDeviceNodeProperty(uint32_t handle, TVX_NODE_PROPERTY *out);
TVX_API TVX_STATUS TvxGetHbaDevicePortProperty(uint32_t handle, uint32_t port, TVX_PORT_PROPERTY *out);
TVX_API TVX_STATUS TvxGetStatistics(uint32_t handle, uint32_t port, TVX_STATISTICS *out);
TVX_API TVX_STATUS TvxGetBeaconControl(uint32_t handle, uint32_t *state);
/* region 1 or 2; size must be 512 */
TVX_API TVX_STATUS TvxGetNVRam(uint32_t handle, uint32_t port, uint32_t region, uint8_t *buffer, uint32_t size);
/* nvram: a 512-byte image read with TvxGetNVRam; value out */
TVX_API TVX_STATUS TvxGetVariableValue(uint32_t handle, const uint8_t *nvram, uint32_t param, uint32_t *value);
/* list->Count holds the entries the buffer has room for */
TVX_API TVX_STATUS TvxGetHbaSupportedFeatureList(uint32_t handle, TVX_FEATURE_LIST *list);

/* ---- Flash ------------------------------------------------------------ */
TVX_API TVX_STATUS TvxGetOptionRomLayout(uint32_t handle, uint32_t reserved, TVX_OPTION_ROM_LAYOUT *layout);
TVX_API TVX_STATUS TvxGetOptionRomEx(uint32_t handle, uint32_t reserved, uint8_t *buffer, uint32_t size, uint32_t region);
TVX_API TVX_STATUS TvxUpdateOptionRomEx(uint32_t handle, uint32_t reserved, const uint8_t *buffer, uint32_t size, uint32_t region);
/* options: bit 0 asks the library not to reset the chip after the write */
TVX_API TVX_STATUS TvxUpdateOptionRomEx2(uint32_t handle, uint32_t options, const uint8_t *buffer, uint32_t size, uint32_t region);
/* whole option ROM image of the oldest adapters */
TVX_API TVX_STATUS TvxUpdateOptionRom(uint32_t handle, uint32_t reserved, const uint8_t *buffer, uint32_t size);
TVX_API TVX_STATUS TvxGetOptionRomOffset(uint32_t handle, uint32_t reserved, uint8_t *buffer, uint32_t length, uint32_t offset);
TVX_API TVX_STATUS TvxGetActiveRegions(uint32_t handle, uint32_t reserved, TVX_ACTIVE_REGIONS *out);
/* size: in buffer size, out bytes returned */
TVX_API TVX_STATUS TvxGetVpd(uint32_t handle, uint32_t reserved, uint8_t *buffer, uint32_t *size);

/* ---- Online update ---------------------------------------------------- */
TVX_API TVX_STATUS TvxGetFlashUpdateCapabilities(uint32_t handle, uint32_t reserved, uint32_t *capability);
TVX_API TVX_STATUS TvxStartFlashUpdate(uint32_t handle, uint32_t reserved, uint32_t *session);
TVX_API TVX_STATUS TvxSendFlashUpdateFWAttributes(uint32_t handle, uint32_t reserved, const uint8_t *attributes, uint32_t size);
TVX_API TVX_STATUS TvxEndFlashUpdate(uint32_t handle, uint32_t reserved, uint32_t session);
TVX_API TVX_STATUS TvxOnlineActivateFlashUpdate(uint32_t handle, uint32_t reserved);

/* ---- Targets ---------------------------------------------------------- */
TVX_API TVX_STATUS TvxGetDiscTargetProperty(uint32_t handle, uint32_t port, uint32_t index, uint32_t reserved, TVX_DISC_TARGET_PROPERTY *out);
/* buffer of size bytes; *count out: entries available */
TVX_API TVX_STATUS TvxGetPortDatabase(uint32_t handle, uint32_t mode, uint8_t *buffer, uint32_t size, uint32_t *count);
/* records: room for *count records; *count out: records available */
TVX_API TVX_STATUS ITvxFoGetTargetData(uint32_t handle, TVX_FO_TARGET_DATA *records, uint32_t *count);
TVX_API TVX_STATUS ITvxFoGetLunData(uint32_t handle, TVX_FO_LUN_DATA *records, uint32_t *count);
/* data: 36 bytes for a standard INQUIRY; evpd/page select vital product pages */
TVX_API TVX_STATUS TvxSendScsiInquiryCmdFC(uint32_t handle, const TVX_SCSI_ADDRESS *addr, uint8_t evpd, uint8_t page, uint8_t *data, uint32_t dataSize, uint8_t *sense, uint32_t senseSize);
TVX_API TVX_STATUS TvxSendScsiReportLunsCmdFC(uint32_t handle, const TVX_SCSI_ADDRESS *addr, uint8_t *data, uint32_t dataSize, uint8_t *sense, uint32_t senseSize);
/* READ CAPACITY(10): data of 8 bytes (last block address, block length, big-endian) */
TVX_API TVX_STATUS TvxSendScsiReadCapacityCmdFC(uint32_t handle, const TVX_SCSI_ADDRESS *addr, uint8_t *data, uint32_t dataSize, uint8_t *sense, uint32_t senseSize);
/* cdbLength 6 or 16; direction 0 none, 1 in (read from device) */
TVX_API TVX_STATUS TvxSendScsiPassThruFC(uint32_t handle, const TVX_SCSI_ADDRESS *addr, const uint8_t *cdb, uint32_t cdbLength, uint32_t direction, uint8_t *data, uint32_t dataSize, uint8_t *sense, uint32_t senseSize);

#ifdef __cplusplus
}
#endif

#endif /* TORVEX_H */
