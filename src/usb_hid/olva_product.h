// Model ids of the boxes. Discovery gives 3 or 10; the HID layer refines 3
// to 8 when the box carries a GSM module.
#pragma once

enum OLVA_PRODUCT : int {
    OLVA_PRODUCT_NONE = 0,
    OLVA_PRODUCT_TZ2502A = 1,
    OLVA_PRODUCT_TZ2402B = 2,
    OLVA_PRODUCT_TZ2401B = 3,
    OLVA_PRODUCT_TZ2501A = 4,
    OLVA_PRODUCT_TZ2701A = 8,
    OLVA_PRODUCT_TZ2501B = 10,
};
