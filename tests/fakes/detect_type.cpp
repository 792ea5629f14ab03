// Prints the image type text the program gives the file at its one argument,
// so that a test can ask as another user:  detect_type PATH
#include "list.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() != 2)
        return 2;
    std::printf("%s\n", qPrintable(DetectImageType(arguments[1])));
    return 0;
}
