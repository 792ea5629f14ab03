#include "cli.h"
#include "mainwindow.h"
#include "platform.h"
#include "scratch.h"
#include "theme.h"
#include "translate.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    // The batch command line runs without a window: decided before any GUI
    // object exists, so no display and no GUI platform is needed for it.
    if (IsCommandLineRun(argc, argv))
        return RunCommandLine(argc, argv);

    QApplication app(argc, argv);
    // Module start-up, before the window exists.
    RemoveStaleScratchFolders();
    InstallTerminationCleanup();
    InitTranslation();
    InitTheme();

    TFrmZarvelo window(NativeArguments());
    window.show();
    return app.exec();
}
