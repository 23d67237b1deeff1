// Flash region codes: the numbers that name the regions of an adapter's
// flash, as the device-management library reads and writes them whole.
// Several names share one code; they are the names the messages use for
// the families that carry the region.
#pragma once

#include <cstdint>

// FC firmware (primary).
constexpr uint32_t TVX_OPT_ROM_REGION_FW = 0x01;
constexpr uint32_t UNCPMPRESSED_FW_FCOE = 0x01;
constexpr uint32_t OPT_ROM_REGION_TESK_FW_IMAGE_FC = 0x01;
constexpr uint32_t OPT_ROM_REGION_FENWAR_FC_RISC_FW_CODE = 0x01;
// FC firmware, secondary.
constexpr uint32_t TVX_OPT_ROM_REGION_FW_SECONDARY = 0x02;
// Boot code and firmware together (classic FC).
constexpr uint32_t TVX_OPT_ROM_REGION_PHBIOS_PHFCODE_PHEFI_FW = 0x05;
// FC/FCoE boot code: PCI image chain of BIOS, FCode, EFI (primary).
constexpr uint32_t TVX_OPT_ROM_REGION_PHBIOS_PHFCODE_PHEFI = 0x07;
constexpr uint32_t BOOT_CODE_FCOE = 0x07;
constexpr uint32_t OPT_ROM_REGION_TESK_BOOT_CODE_FC = 0x07;
constexpr uint32_t OPT_ROM_REGION_FENWAR_FC_BOOT_CODE = 0x07;
// Boot code, secondary.
constexpr uint32_t TVX_OPT_ROM_REGION_BOOT_SECONDARY = 0x09;
// Boot code expansion (Zult family) and its secondary.
constexpr uint32_t TVX_OPT_ROM_REGION_BOOT_EXPANSION_SECONDARY = 0x0A;
constexpr uint32_t TVX_OPT_ROM_REGION_BOOT_EXPANSION = 0x11;
// Firmware preload table.
constexpr uint32_t TVX_OPT_ROM_REGION_FW_PRELOAD = 0x13;
// FC VPD 0 and 1.
constexpr uint32_t TVX_OPT_ROM_REGION_FC_VPD0 = 0x14;
constexpr uint32_t TVX_OPT_ROM_REGION_FC_VPD1 = 0x16;
// Flash descriptor table.
constexpr uint32_t TVX_OPT_ROM_REGION_FDT = 0x1A;
// Flash layout table.
constexpr uint32_t TVX_OPT_ROM_REGION_FLT = 0x1C;
// NIC VPD 0 and 1.
constexpr uint32_t TVX_OPT_ROM_REGION_NIC_VPD0 = 0x2C;
constexpr uint32_t TVX_OPT_ROM_REGION_NIC_VPD1 = 0x2D;
// NIC boot code chain.
constexpr uint32_t NIC_BOOT_CODE_FCOE = 0x2E;
constexpr uint32_t OPT_ROM_REGION_TESK_BOOT_CODE_NIC = 0x2E;
// MPI firmware and its configuration parameters.
constexpr uint32_t MPI_RISC_FW_FCOE = 0x40;
constexpr uint32_t MPI_CONFIG_PARAMS = 0x41;
// EDC PHY firmware.
constexpr uint32_t EDC_PHY_FW_FCOE = 0x45;
// iSCSI boot code chain.
constexpr uint32_t OPT_ROM_REGION_TESK_BOOT_CODE_ISCSI = 0x4F;
// VPD regions of the newer families.
constexpr uint32_t TVX_OPT_ROM_REGION_VPD_50 = 0x50;
constexpr uint32_t TVX_OPT_ROM_REGION_VPD_52 = 0x52;
// Trunking PEP firmware (primary) and its secondary.
constexpr uint32_t OPT_ROM_REGION_FENWAR_TRUNKING_PEP_FW = 0x66;
constexpr uint32_t OPT_ROM_REGION_FENWAR_TRUNKING_PEP_FW_SECONDARY = 0x67;
// CRB init data, converged board configuration, boot loader, PEG tuning.
constexpr uint32_t LARK_CRBINIT = 0x70;
constexpr uint32_t OPT_ROM_REGION_TESK_CRBINIT = 0x70;
constexpr uint32_t LARK_BOARD_CONFIG = 0x71;
constexpr uint32_t LARK_BOOTLOADER = 0x72;
constexpr uint32_t OPT_ROM_REGION_TESK_BOOTLOADER = 0x72;
constexpr uint32_t LARK_PEGTUNE = 0x73;
constexpr uint32_t OPT_ROM_REGION_TESK_PEGTUNE = 0x73;
// Converged firmware image. The name LARK_FW_IMAGE is given to both 0x74
// and 0x97 by the messages; the constant keeps 0x74, 0x97 has its own
// name below.
constexpr uint32_t LARK_FW_IMAGE = 0x74;
// Lark-family VPD.
constexpr uint32_t TVX_OPT_ROM_REGION_LARK_VPD = 0x81;
// Flash memo block of the 0x2031/0x2831 family.
constexpr uint32_t TVX_OPT_ROM_REGION_TESK_MEMO = 0x89;
// Image status, primary and secondary.
constexpr uint32_t TVX_OPT_ROM_REGION_IMAGE_STATUS_PRI = 0x95;
constexpr uint32_t TVX_OPT_ROM_REGION_IMAGE_STATUS_SEC = 0x96;
// Converged firmware image.
constexpr uint32_t OPT_ROM_REGION_TESK_FW_IMAGE = 0x97;
constexpr uint32_t LARK_FW_IMAGE_97 = 0x97;
// Image signature (primary) and its secondary.
constexpr uint32_t OPT_ROM_REGION_FENWAR_SIGNATURE = 0x9E;
constexpr uint32_t OPT_ROM_REGION_FENWAR_SIGNATURE_SECONDARY = 0x9F;
// FCoE boot code chain and FCoE firmware.
constexpr uint32_t OPT_ROM_REGION_TESK_BOOT_CODE_FCOE = 0xA2;
constexpr uint32_t OPT_ROM_REGION_TESK_FW_IMAGE_FCOE = 0xA4;
// FC board configuration (alternate 0x10B).
constexpr uint32_t TVX_OPT_ROM_REGION_FC_BOARD_CONFIG = 0xBA;
// PEP board configuration (alternate 0x106).
constexpr uint32_t TVX_OPT_ROM_REGION_PEP_BOARD_CONFIG = 0xCF;
// PEP firmware; PEP SoftROM firmware (alternate 0x105); MPI firmware.
constexpr uint32_t OPT_ROM_REGION_FENWAR_PEP_FW = 0xD1;
constexpr uint32_t TVX_OPT_ROM_REGION_PEP_SOFTROM = 0xD2;
constexpr uint32_t OPT_ROM_REGION_FENWAR_MPI_FW = 0xD3;
// FC VPD 2 and 3.
constexpr uint32_t TVX_OPT_ROM_REGION_FC_VPD2 = 0xD4;
constexpr uint32_t TVX_OPT_ROM_REGION_FC_VPD3 = 0xD6;
// VPD regions of the newer families.
constexpr uint32_t TVX_OPT_ROM_REGION_VPD_D8 = 0xD8;
constexpr uint32_t TVX_OPT_ROM_REGION_VPD_DA = 0xDA;
// Flash memo block (alternate 0x124).
constexpr uint32_t TVX_OPT_ROM_REGION_MEMO = 0xDF;
// Extended MPI firmware (primary) and its secondary.
constexpr uint32_t TVX_OPT_ROM_REGION_EXT_MPI_FW = 0xE1;
constexpr uint32_t TVX_OPT_ROM_REGION_EXT_MPI_FW_SECONDARY = 0xE5;
// Alternates of 0xD3 and 0xD1.
constexpr uint32_t TVX_OPT_ROM_REGION_MPI_FW_ALT = 0xF0;
constexpr uint32_t TVX_OPT_ROM_REGION_PEP_FW_ALT = 0xF1;
// The whole flash; also the request "all".
constexpr uint32_t TVX_OPT_ROM_REGION_ALL = 0xFF;
// MPI SoftROM, PCIe Serdes, FC SoftROM (Zult family).
constexpr uint32_t TVX_OPT_ROM_REGION_MPI_SOFTROM = 0x101;
constexpr uint32_t TVX_OPT_ROM_REGION_PCIE_SERDES = 0x102;
constexpr uint32_t TVX_OPT_ROM_REGION_FC_SOFTROM = 0x103;
// Alternates of 0xD2, 0xCF and 0x13.
constexpr uint32_t TVX_OPT_ROM_REGION_PEP_SOFTROM_ALT = 0x105;
constexpr uint32_t TVX_OPT_ROM_REGION_PEP_BOARD_CONFIG_ALT = 0x106;
constexpr uint32_t TVX_OPT_ROM_REGION_FW_PRELOAD_ALT = 0x107;
// Alternates of 0x101, 0x102, 0x103.
constexpr uint32_t TVX_OPT_ROM_REGION_MPI_SOFTROM_ALT = 0x108;
constexpr uint32_t TVX_OPT_ROM_REGION_PCIE_SERDES_ALT = 0x109;
constexpr uint32_t TVX_OPT_ROM_REGION_FC_SOFTROM_ALT = 0x10A;
// Alternate of 0xBA.
constexpr uint32_t TVX_OPT_ROM_REGION_FC_BOARD_CONFIG_ALT = 0x10B;
// VPD regions of the newer families.
constexpr uint32_t TVX_OPT_ROM_REGION_VPD_10C = 0x10C;
constexpr uint32_t TVX_OPT_ROM_REGION_VPD_10E = 0x10E;
constexpr uint32_t TVX_OPT_ROM_REGION_VPD_110 = 0x110;
constexpr uint32_t TVX_OPT_ROM_REGION_VPD_112 = 0x112;
// Flash memo block, alternate of 0xDF.
constexpr uint32_t TVX_OPT_ROM_REGION_MEMO_ALT = 0x124;
// Auxiliary image status, sets 1 and 2.
constexpr uint32_t TVX_OPT_ROM_REGION_AUX_IMAGE_STATUS_1 = 0x125;
constexpr uint32_t TVX_OPT_ROM_REGION_AUX_IMAGE_STATUS_2 = 0x126;
