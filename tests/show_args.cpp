// Prints the command line as the program reads it (NativeArguments), one
// argument a line in UTF-8, without the program itself.

#include "platform.h"

#include <QCoreApplication>
#include <QFile>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QFile out;
    if (!out.open(stdout, QIODevice::WriteOnly))
        return 1;
    const QStringList arguments = NativeArguments();
    for (qsizetype i = 1; i < arguments.size(); ++i)
        out.write(arguments.at(i).toUtf8() + '\n');
    return 0;
}
