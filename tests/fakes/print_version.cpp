// Prints GetVersionString("%d.%d.%d.%d") as this program, which carries no
// version resource, reads it.
#include "common.h"

#include <cstdio>

int main()
{
    std::printf("%s\n", GetVersionString(QStringLiteral("%d.%d.%d.%d")).toUtf8().constData());
    return 0;
}
