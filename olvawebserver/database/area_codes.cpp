// Area codes of telephone numbers: the database keeps none.
#include "database/Database.h"

int Database::InputCode(const char*)
{
    return 0;
}

int Database::UpdateCode(const char*, const char*)
{
    return 0;
}

int Database::GetCode(const char*, char*, int)
{
    return 0;
}

int Database::GetCode(const char*, char*, int, char*, int)
{
    return 0;
}

int Database::GetCode(int, char*, int)
{
    return 0;
}

int Database::phonearea_convert(const char*, char*, int)
{
    return 0;
}
