/*
 * torvex_sim.h - extra entry points of the simulated torvex library, for
 * tests and the tarniksim tool only. The program never uses them.
 */
#ifndef TORVEX_SIM_H
#define TORVEX_SIM_H

#include "torvex.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Forgets the loaded host, every handle, session and fault counter; the
 * next call loads the host named by TORVEX_SIM_HOST again. */
TVX_API void TvxSimReset(void);

/* Where library instance `instance` sits: card name (text), chip index and
 * port index on that chip. TVX_ERR_NO_MORE_DEVICES past the last port. */
TVX_API TVX_STATUS TvxSimGetInstanceInfo(uint32_t instance, char *card, uint32_t cardSize, uint32_t *chip,
                                         uint32_t *port);

/* Flash placement of region `code` of the chip behind `instance`: flash
 * offset, size, and where its bytes come from now: 0 fill byte, 1 a file of
 * the host, 2 generated contents, 3 the state file (written), 4 written in
 * memory (read-only mode), 5 a view of the whole flash (code 0xFF). */
TVX_API TVX_STATUS TvxSimGetRegionInfo(uint32_t instance, uint32_t code, uint64_t *offset, uint32_t *size,
                                       uint32_t *source);

/* A reset of the chip behind `instance` (a host reboot): a dual-bank chip
 * starts running the set its image status records designate; every port
 * of the chip reports the versions of that set. */
TVX_API TVX_STATUS TvxSimResetChip(uint32_t instance);

/* The set (1 or 2) a dual-bank chip runs and the generation it had when it
 * started running it; TVX_ERR_NOT_SUPPORTED for other chips. */
TVX_API TVX_STATUS TvxSimGetRunningSet(uint32_t instance, uint32_t *runningSet, uint32_t *generation);

/* The message of the last host load failure ("" when none). */
TVX_API TVX_STATUS TvxSimGetLoadError(char *text, uint32_t size);

#ifdef __cplusplus
}
#endif

#endif /* TORVEX_SIM_H */
