#include "settingsnotice.h"

#include "config.h"
#include "translate.h"

#include <QDir>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>

TSettingsNotice::TSettingsNotice(QWidget *window) : QObject(window), FWindow(window)
{
    setObjectName(QStringLiteral("SettingsNotice"));
    const QPointer<TSettingsNotice> self(this);
    SetConfigWriteFailedHandler([this, self](const QString &file) {
        if (FShown.exchange(true))
            return;
        // Shown from the window's event loop: the failed write may happen
        // while the window is still being built, or on another thread.
        QMetaObject::invokeMethod(
            this,
            [self, file] {
                if (self)
                    self->Show(file);
            },
            Qt::QueuedConnection);
    });
}

TSettingsNotice::~TSettingsNotice()
{
    SetConfigWriteFailedHandler(nullptr);
}

void TSettingsNotice::Show(const QString &file)
{
    auto *box = new QMessageBox(
        QMessageBox::Warning, FWindow->windowTitle(),
        Translate(QStringLiteral("설정을 저장할 수 없습니다. 바꾼 설정은 프로그램을 닫으면 사라집니다.")) +
            QStringLiteral("\n\n") + QDir::toNativeSeparators(file),
        QMessageBox::Ok, FWindow);
    box->setObjectName(QStringLiteral("MsgSettingsNotSaved"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
}
