#include "platform_window.h"

bool AllowDropsFromLowerIntegrity()
{
    return false;
}

bool RequestDarkTitleBar(QWidget *)
{
    return false;
}
