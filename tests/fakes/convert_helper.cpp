// Converts one file with the engine, as the program would, so that a test can
// end it from outside:  convert_helper APPNAME FORMAT SOURCE [OUTFOLDER]
// APPNAME makes its cache folder (the home of scratch folders) the test's.
// Prints "ready" before it starts; exits 0 on success, 1 on failure.
#include "conversion.h"
#include "scratch.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() < 4)
        return 2;
    QCoreApplication::setApplicationName(arguments[1]);
    InstallTerminationCleanup();
    ConversionOptions options;
    options.SaveFormat = arguments[2];
    options.SavePath = arguments.value(4);
    std::printf("ready\n");
    std::fflush(stdout);
    const ConversionResult result = ConvertRaster(options, arguments[3], QStringLiteral("PNG"), 0, QString());
    std::printf("%s\n", qPrintable(result.Reason));
    return result.Success ? 0 : 1;
}
