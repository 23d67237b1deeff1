#include "app/dispatch.h"

#include <cstdio>
#include <cstring>

#include "app/cmdline.h"
#include "app/output.h"
#include "app/settings.h"
#include "app/status.h"
#include "datafiles/datafiles.h"
#include "inventory/cxrtype.h"
#include "inventory/display.h"
#include "inventory/prefs.h"
#include "inventory/tvxdevice.h"
#include "multiregion/fdt.h"
#include "oss/oss.h"
#include "update/flashctr.h"
#include "update/optionrom.h"
#include "update/targeted.h"
#include "update/updaterun.h"

namespace {

// Walk of commands 4, 7 and 9: one display per HBA list record; the
// status is that of the last record.
int ForEachHBA(int (*display)(TVXDevice *), bool reportFailure) {
    if (g_HBAList.count == 0 || g_HBAList.first == nullptr) {
        OutputLevelMessage(LEVEL_INFO, "Orvane HBA not found!");
        return TF_STATUS_NO_HBA;
    }
    int status = 0;
    uint32_t visited = 0;
    for (TVXDevice *dev = g_HBAList.first; dev != nullptr && visited < g_HBAList.count; dev = dev->next, ++visited) {
        status = display(dev);
        if (reportFailure && status == -1)
            OutputMessage("Unable to get adapter information (HBA %d)", static_cast<int>(dev->instance));
    }
    return status;
}

int DefaultUpdateRun() {
    // Room for the longest configuration directory: a cut name could open
    // some other file.
    static const char kControlFile[] = "tarnikflasher.properties";
    char path[sizeof g_szConfigPath + sizeof kControlFile];
    std::snprintf(path, sizeof path, "%s%s", g_szConfigPath, kControlFile);
    OutputLevelMessage(LEVEL_DEBUG, "Configuration File (%s)", path);
    int status = BuildFlashCtrListFromFile(path);
    if (status == 0) {
        int rc = UpdatePEPBoardConfigFromFileToAllHBAs("PEP27BC.dat");
        OutputLevelMessage(LEVEL_DEBUG, "UpdatePEPBoardConfigFromFileToAllHBAs() return %d", rc);
        if (rc != 0 && rc != 215) OutputLevelMessage(LEVEL_DEBUG, "Unable to update PEP board config!");
        rc = UpdateCNABoardConfigFromFileToAllHBAs("BC26xx.DAT");
        if (rc != 0 && rc != 214 && rc != 215) OutputLevelMessage(LEVEL_DEBUG, "Unable to update board config!");
        rc = UpdateFWPreloadTableToAllHBAs("FWA83xxB.DAT");
        if (rc != 0 && rc != 214 && rc != 215) OutputLevelMessage(LEVEL_DEBUG, "Unable to update fw preload table!");
        status = updateOptionROMAllHBAs(nullptr, g_bAllPorts, 1);
    }
    DeleteFlashCtrVersionList();
    return status;
}

TVXDevice *FindSelectedHBA() {
    uint32_t visited = 0;
    for (TVXDevice *dev = g_HBAList.first; dev != nullptr && visited < g_HBAList.count; dev = dev->next, ++visited) {
        if (g_iAdapterSelect == ADAPTER_SELECT_INSTANCE && dev->instance == static_cast<uint32_t>(g_iAdapterInstance))
            return dev;
        if (g_iAdapterSelect == ADAPTER_SELECT_WWN &&
            std::memcmp(dev->portProperty.PortWWN, g_AdapterWWN, sizeof g_AdapterWWN) == 0)
            return dev;
    }
    return nullptr;
}

int TargetedUpdate() {
    if (g_iAdapterSelect == ADAPTER_SELECT_ALL)
        return DoFlashUpdateAllAdaptersFromFile(g_szMBIFile, 1, g_iFamilyType, g_bAllPorts);
    // No adapter matching the selection is refused there with status 19.
    TVXDevice *dev = FindSelectedHBA();
    return DoFlashUpdateAdapterPortFromFile(dev, g_szMBIFile, 1, g_iFamilyType, g_bAllPorts, 1, 1);
}

} // namespace

void ResetRunLists() {
    g_pFlashCtrList = nullptr;
    g_ptrOptionROMRequest = nullptr;
}

int getConfigPath() {
    OutputLevelMessage(LEVEL_DEBUG, "getConfigPath: pConfilePath =%s", g_szConfigPath);
    char file[512];
    std::snprintf(file, sizeof file, "%s%c%s", g_szConfigPath, OSS_PATH_SEPARATOR, "adapters.properties");
    OutputLevelMessage(LEVEL_DEBUG, "getConfigPath: Adapter properties file=%s", file);
    std::FILE *f = std::fopen(file, "r");
    if (f == nullptr) {
        OutputMessage("%s", "Configuration files not found in default path!");
        return TF_STATUS_CONFIG_MISSING;
    }
    std::fclose(f);
    return 0;
}

int CmdInit() {
    OutputLevelMessage(LEVEL_DEBUG, "Starting initialization...");
    OutputLevelMessage(LEVEL_DEBUG, "OSSInitialize finished.");
    CoreInitialize();
    OutputLevelMessage(LEVEL_DEBUG, "CoreInitialize finished.");
    CoreOSSInitializeDevices();
    OutputLevelMessage(LEVEL_DEBUG, "CoreOSSInitializeDevices finished.");
    OutputLevelMessage(LEVEL_DEBUG, "OSSPostInitializeDevices finished.");
    OutputLevelMessage(LEVEL_DEBUG, "OSSUpdateCoreDevices finished.");
    int rc = getConfigPath();
    if (rc != 0) return rc;
    BuildHBADevices();
    OutputLevelMessage(LEVEL_DEBUG, "BuildHBADevices finished.");
    OutputLevelMessage(LEVEL_DEBUG, "CmdInit finished.");
    g_bIA64Host = isHostOSType("IA64");
    return 0;
}

int ExecuteCommand() {
    switch (g_iCommand) {
    case CMD_USAGE: PrintUsage(); return 0;
    case CMD_VERSION: PrintVersion(); return 0;
    case CMD_NOTHING: return 0;
    case CMD_HOST_INFO:
        OutputMessage("%s", "----------------------------------------------------------------------");
        PrintHostInfo();
        return PrintHBASummary();
    case CMD_HBA_INFO: return ForEachHBA(PrintHBAGenInfos, true);
    case CMD_MBI_VERSION: return ForEachHBA(DisplayHBAMBIVersion, false);
    case CMD_PEP_VERSION: return ForEachHBA(DisplayPEPBrdCfgVersionFromAdapter, false);
    case CMD_DEFAULT_UPDATE: return DefaultUpdateRun();
    case CMD_TARGETED_UPDATE: return TargetedUpdate();
    case CMD_FDT: return ModifyAllHBAsFLashDescriptorTable();
    default: OutputMessage("%s", "Invalid/Unknown command line options!"); return TF_STATUS_UNKNOWN_COMMAND;
    }
}

void CmdCleanup() {
    OutputLevelMessage(LEVEL_DEBUG, "Shutting down...");
    g_bOSSInitialized = 0;
    OutputLevelMessage(LEVEL_DEBUG, "Deallocating local resources...");
    OutputLevelMessage(LEVEL_DEBUG, "Deallocating Core resources...");
    CoreReleaseDeviceList();
    OutputLevelMessage(LEVEL_DEBUG, "Deallocating OSS resources...");
    OSSDeleteCriticalSection();
    OutputLevelMessage(LEVEL_DEBUG, "Deallocating HBA list...");
    CoreReleaseHBAList();
    OutputLevelMessage(LEVEL_DEBUG, "Cleanup finished.");
}

int ConsoleCtrlHandler(int event) {
    if (event == OSS_CTRL_C_EVENT)
        OutputLevelMessage(LEVEL_DEBUG, "CTRL-C triggered - Stopping...\n");
    else if (event == OSS_CTRL_BREAK_EVENT)
        OutputLevelMessage(LEVEL_DEBUG, "CTRL-BREAK triggered - Stopping...\n");
    else
        return 0;
    // Ends the process now unless a flash write is in progress; then the
    // end follows that write, on the writing thread.
    OSSRequestStop(event);
    return 1;
}

int RunProgram(int argc, char **argv) {
    OSSInstallCtrlHandler(ConsoleCtrlHandler);
    OSSSetStopCleanup(CmdCleanup);
    ResetRunLists();
    int status = 0;
    switch (ParseCommandLine(argc, argv)) {
    case 1: PrintUsage(); break;
    case 2: PrintVersion(); break;
    case TF_STATUS_NO_MEMORY:
        OutputLevelMessage(LEVEL_ERROR, "Memory allocation error!");
        status = TF_STATUS_NO_MEMORY;
        break;
    case TF_STATUS_BAD_ADAPTER_OPERAND: status = TF_STATUS_INVALID_CMDLINE; break;
    case 0:
        OSSInitialize(argc, argv);
        status = CmdInit();
        if (status == 0) status = ExecuteCommand();
        CmdCleanup();
        break;
    default:
        OutputLevelMessage(LEVEL_ERROR, "Invalid/Unknown command line options!");
        status = TF_STATUS_INVALID_CMDLINE;
        break;
    }
    CoreTrace(LEVEL_DEBUG, "Exit status %d\n", status);
    return status;
}
