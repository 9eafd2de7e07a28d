/* Busy-tone and dial-tone detector settings, as a line hands them to its
 * detector. Part of the library's public interface, so plain C. */
#ifndef OLVA_BUSY_INFO_H
#define OLVA_BUSY_INFO_H

#include <stdint.h>

typedef struct tagBusyInfo {
    int64_t busy_dual_frequency; /* 0: first frequency only; else the mean of both */
    int64_t busy_frequency0;     /* Hz */
    int64_t busy_frequency1;     /* Hz */
    int64_t busy_on;             /* tone run, in blocks */
    int64_t busy_off;            /* pause run, in blocks */
    int64_t busy_on_off_error;   /* a run matches when it is off by less than this */
    int64_t busy_enery_gate;     /* energy threshold index, 0-50 (1 dB steps) */
    int64_t busy_period_count;   /* periods required */
} tagBusyInfo;

#endif
