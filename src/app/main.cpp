#include "mainwindow.h"
#include "platform.h"
#include "theme.h"
#include "translate.h"
#include "update.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // Module start-up, before the window exists.
    InitTranslation();
    InitUpdateModule();
    InitTheme();

    TFrmZarvelo window(NativeArguments());
    window.show();
    return app.exec();
}
