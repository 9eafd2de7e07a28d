/* A C program written against the library's header: it compiles as C and
 * links against libolva.so, so every function the header declares is in the
 * library. Closed, the library answers -7 where it offers nothing. The model
 * ids are C constants too. */
#include <stdio.h>

#include "cavrel_olva.h"

typedef void (*any_function)(void);

static const any_function kDeclared[] = {
    (any_function)olva_open,
    (any_function)olva_close,
    (any_function)olva_open_logfile,
    (any_function)olva_open_logfileEx,
    (any_function)olva_close_logfile,
    (any_function)olva_check_coder,
    (any_function)olva_get_line_state,
    (any_function)olva_record_file,
    (any_function)olva_record_stream,
    (any_function)olva_stop_record,
    (any_function)olva_send_dtmf,
    (any_function)olva_play_file,
    (any_function)olva_stop_play,
    (any_function)olva_play_pause,
    (any_function)olva_close_agc,
    (any_function)olva_soft_hook_off,
    (any_function)olva_soft_hook_on,
    (any_function)olva_set_busy_tone,
    (any_function)olva_set_volume,
    (any_function)olva_set_Speakervolume,
    (any_function)olva_get_hang_threshold,
    (any_function)olva_set_hang_threshold,
    (any_function)olva_get_hookoff_threshold,
    (any_function)olva_set_hookoff_threshold,
    (any_function)olva_stop_read_line_voltage,
    (any_function)olva_start_read_line_voltage,
    (any_function)olva_get_device_versionnum,
    (any_function)olva_get_product_ID,
    (any_function)olva_get_product_name,
    (any_function)olva_get_serial_number,
    (any_function)olva_get_usernum,
    (any_function)olva_write_usernum,
    (any_function)olva_set_message_param,
    (any_function)olva_open_buzzer_switch,
    (any_function)olva_read_eeprom,
    (any_function)olva_read_eepromEx,
    (any_function)olva_write_eeprom,
    (any_function)olva_set_send_dtmf_param,
    (any_function)olva_get_send_dtmf_param,
    (any_function)olva_get_work_mode,
    (any_function)olva_get_dev_data,
    (any_function)olva_set_dev_data,
    (any_function)olva_delete_file,
    (any_function)olva_judge_file_size,
    (any_function)olva_uploadFile,
    (any_function)olva_makecall,
    (any_function)olva_reject_call,
    (any_function)olva_set_talk_link,
    (any_function)olva_set_record_enable,
    (any_function)olva_makecallSlic,
    (any_function)olva_send_gsm_cmd,
    (any_function)olva_send_gsm_msg,
    (any_function)olva_query_gsm_msg_number,
    (any_function)olva_query_gsm_msg,
    (any_function)olva_query_gsm_msgEx,
    (any_function)olva_delete_gsm_msg,
    (any_function)olva_gsm_power,
    (any_function)olva_gsm_bootkey,
    (any_function)olva_select_simcard,
    (any_function)olva_feed_slic_polarity,
    (any_function)olva_set_gsm_work_mode,
    (any_function)olva_set_gsm_vol,
    (any_function)olva_get_gsm_vol,
    (any_function)olva_gsm_generate_tone,
    (any_function)olva_get_gsm_devtype,
    (any_function)olva_write_gsm_devtype,
};

int main(void)
{
    tagBusyInfo busy = {0, 450, 420, 35, 35, 5, 12, 3};
    OLVA_PRODUCT gsm_box = OLVA_PRODUCT_TZ2701A;
    unsigned i;
    for (i = 0; i < sizeof kDeclared / sizeof kDeclared[0]; ++i) {
        if (!kDeclared[i]) {
            fprintf(stderr, "function %u of the header is missing\n", i);
            return 1;
        }
    }
    if (gsm_box != 8 || OLVA_PRODUCT_TZ2501B != 10) {
        fprintf(stderr, "the model ids differ from the boxes' ids\n");
        return 1;
    }
    if (olva_set_busy_tone(0x101, busy) != OLVA_ERR_NOT_AVAILABLE ||
        olva_soft_hook_on(0x101) != OLVA_ERR_NOT_AVAILABLE ||
        olva_open_buzzer_switch(0x101, true) != OLVA_ERR_NOT_AVAILABLE) {
        fprintf(stderr, "a closed library answered other than -7\n");
        return 1;
    }
    return 0;
}
