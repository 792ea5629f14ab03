#include "updatedialog.h"

// Placeholder until the notice dialog lands.
bool UpdateDialog(const QString &)
{
    return false;
}
