// The type argument of olva_set_talk_link and olva_set_record_switch on the
// Tz2701A and the Tz2501B: which audio a talk link joins, and which source
// the recording takes. Any other value is refused.
#pragma once

enum {
    OLVA_TALK_SLIC_TO_GSM = 0,
    OLVA_TALK_GSM_TO_SLIC = 1,
    OLVA_TALK_EARPHONE_TO_GSM = 2,
    OLVA_TALK_GSM_TO_EARPHONE = 3,
    OLVA_TALK_SLIC_TO_EARPHONE = 4,
    OLVA_TALK_EARPHONE_TO_SLIC = 5,
    OLVA_TALK_GPIO20 = 6,
    OLVA_TALK_GPIO21 = 7,
    OLVA_TALK_GPIO19 = 8,
};

enum {
    OLVA_REC_SLIC = 0,
    OLVA_REC_GSM = 1,
    OLVA_REC_EARPHONE = 2,
    OLVA_REC_USB = 3,
};
