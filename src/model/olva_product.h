/* Model ids of the boxes. Discovery gives 3 or 10; the HID layer refines 3
 * to 8 when the box carries a GSM module. Plain C for the public interface;
 * C++ gives the enum a fixed int type, so that any id read from a box or a
 * caller is a valid value of it. */
#ifndef OLVA_PRODUCT_H
#define OLVA_PRODUCT_H

#ifdef __cplusplus
enum OLVA_PRODUCT : int {
#else
enum OLVA_PRODUCT {
#endif
    OLVA_PRODUCT_NONE = 0,
    OLVA_PRODUCT_TZ2502A = 1,
    OLVA_PRODUCT_TZ2402B = 2,
    OLVA_PRODUCT_TZ2401B = 3,
    OLVA_PRODUCT_TZ2501A = 4,
    OLVA_PRODUCT_TZ2701A = 8,
    OLVA_PRODUCT_TZ2501B = 10,
};

#ifndef __cplusplus
typedef enum OLVA_PRODUCT OLVA_PRODUCT;
#endif

#endif
