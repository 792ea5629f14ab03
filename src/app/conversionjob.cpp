#include "conversionjob.h"

#include "filelist.h"
#include "translate.h"

#include <QThread>

#include <exception>

namespace {

// Runs fn on the host's thread and waits for it.
template <typename Fn> void onWindowThread(IConversionHost *host, Fn fn)
{
    QMetaObject::invokeMethod(host->HostObject(), fn, Qt::BlockingQueuedConnection);
}

void runJob(TFileListModel *list, IConversionHost *host)
{
    const QString ready = Translate(QStringLiteral("준비"));
    const int count = list->rowCount();
    for (int i = 0; i < count; ++i) {
        // Row i is read by position; the window keeps the rows still during the job.
        const TFileInfo &info = list->fileInfo(i);
        onWindowThread(host, [host, i] { host->ShowProgress(i); });
        if (list->status(i) != ready)
            continue;
        onWindowThread(host, [host, i] { host->ShowConverting(i); });

        ConversionOptions options;
        onWindowThread(host, [host, &options] { options = host->CurrentOptions(); });
        bool result = false;
        try {
            result = ConvertFile(options, info.FileName, info.Format).Success;
        } catch (...) {
            // An unexpected error marks the row failed; the job goes on.
            result = false;
        }
        onWindowThread(host, [host, i, result] { host->ShowResult(i, result); });
    }
    onWindowThread(host, [host] { host->FinishConversion(); });
}

} // namespace

void StartConversionWorker(TFileListModel *list, IConversionHost *host)
{
    QThread *thread = QThread::create([list, host] { runJob(list, host); });
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
}
