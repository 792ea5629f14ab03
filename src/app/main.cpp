#include "mainwindow.h"
#include "scratch.h"
#include "theme.h"
#include "translate.h"
#include "update.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // Module start-up, before the window exists.
    RemoveStaleScratchFolders();
    InstallTerminationCleanup();
    InitTranslation();
    InitUpdateModule();
    InitTheme();

    TFrmZarvelo window(app.arguments());
    window.show();
    return app.exec();
}
