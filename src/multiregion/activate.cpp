#include "multiregion/activate.h"

#include "app/output.h"
#include "oss/oss.h"
#include "update/flashregion.h"

uint32_t AppActivateOnlineFlashUpdate(TVXDevice *device) {
    if (device == nullptr) return TVX_ERR_INVALID_PARAMETER;
    uint32_t st = TVX_ERR_GENERAL;
    for (int cnt = 1; cnt <= ACTIVATE_MAX_CALLS; ++cnt) {
        st = TvxOnlineActivateFlashUpdate(device->handle, 0);
        if (st == TVX_STATUS_OK) return st;
        if (st == TVX_RESULT_RESET_DISABLED) {
            OutputLevelMessage(LEVEL_DEBUG, "AppActivateOnlineFlashUpdate: Waiting for reset");
            return st;
        }
        if (st == TVX_RESULT_MPI_RESET) {
            OutputLevelMessage(LEVEL_DEBUG, "AppActivateOnlineFlashUpdate: Cnt=%d Waiting for reset (0x%x - %s)\n", cnt,
                               st, LibraryErrorText(st).c_str());
        } else if (st == TVX_RESULT_CXR_RESET) {
            OutputLevelMessage(LEVEL_DEBUG, "AppActivateOnlineFlashUpdate: Cnt=%d Waiting for CXR reset (0x%x - %s)\n",
                               cnt, st, LibraryErrorText(st).c_str());
        } else {
            OutputLevelMessage(LEVEL_DEBUG, "AppActivateOnlineFlashUpdate: Error (0x%x - %s).\n", st,
                               LibraryErrorText(st).c_str());
            return st;
        }
        // No wait after the last call: its answer is final.
        if (cnt < ACTIVATE_MAX_CALLS) OSSSleep(ACTIVATE_WAIT_MS);
    }
    return st;
}
