#include "utaskbar/olva_app.h"

int main(int argc, char** argv)
{
    return olva_tray_main(argc, argv);
}
