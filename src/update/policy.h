// Update policy: whether an adapter's flash is to be written, and the
// inbox driver version checks.
#pragma once

#include "inventory/tvxdevice.h"
#include "update/flashctr.h"

// 1 write the flash, 0 leave it; by g_iFlashMode and the adapter family.
int GetFlashUpdatePolicy(const TVXDevice *device, const FlashCtrEntry *adapter, const FlashCtrEntry *file);
// Same decision for an explicit family code and mode (device only named in
// traces, may be null).
int DecideFlashUpdate(int cxrType, int flashMode, const TVXDevice *device, const FlashCtrEntry *adapter,
                      const FlashCtrEntry *file);
// 1 when the text is the Windows Server 2008 inbox driver, else 0.
int isInboxDriverVersion(const char *driverVersion);
// 1 when the inbox driver is new enough, else 0.
int isImprovedInboxPhase2DriverVersion(const char *driverVersion, int newerChip);
