#include "tools.h"

// Placeholder until the runner lands.
QString RunAndCapture(const QString &, const QString &)
{
    return QString();
}
