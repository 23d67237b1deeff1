#include "datafiles/datafiles.h"

#include "app/output.h"

int UpdatePEPBoardConfigFromFileToAllHBAs(const char *fileName) {
    OutputLevelMessage(LEVEL_DEBUG,
                       "UpdatePEPBoardConfigFromFileToAllHBAs: not available in this build, %s not applied",
                       fileName != nullptr ? fileName : "");
    return DATAFILE_STATUS_NOT_APPLIED;
}

int UpdateCNABoardConfigFromFileToAllHBAs(const char *fileName) {
    OutputLevelMessage(LEVEL_DEBUG,
                       "UpdateCNABoardConfigFromFileToAllHBAs: not available in this build, %s not applied",
                       fileName != nullptr ? fileName : "");
    return DATAFILE_STATUS_NOT_APPLIED;
}

int UpdateFWPreloadTableToAllHBAs(const char *fileName) {
    OutputLevelMessage(LEVEL_DEBUG, "UpdateFWPreloadTableToAllHBAs: not available in this build, %s not applied",
                       fileName != nullptr ? fileName : "");
    return DATAFILE_STATUS_NOT_APPLIED;
}

int DisplayPEPBrdCfgVersionFromAdapter(TVXDevice *) {
    OutputMessage("%s", "This command is not supported by this build.");
    return DATAFILE_STATUS_NOT_SUPPORTED;
}
