#include "dragfile.h"

#include "platform_window.h"

#include <QAbstractScrollArea>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

namespace {

// The local paths among the dropped URLs, in drop order.
QStringList localPaths(const QMimeData *mime)
{
    QStringList paths;
    if (!mime || !mime->hasUrls())
        return paths;
    const QList<QUrl> urls = mime->urls();
    for (const QUrl &url : urls) {
        if (url.isLocalFile()) {
            const QString path = url.toLocalFile();
            if (!path.isEmpty())
                paths.append(path);
        }
    }
    return paths;
}

} // namespace

TDragFile::TDragFile(QWidget *control, DropProc dropProc) : FDropProc(std::move(dropProc))
{
    AllowDropsFromLowerIntegrity();
    QList<QWidget *> widgets{control};
    if (auto *area = qobject_cast<QAbstractScrollArea *>(control))
        widgets.append(area->viewport());
    for (QWidget *widget : widgets) {
        FTargets.append({widget, widget->acceptDrops()});
        widget->installEventFilter(this);
        widget->setAcceptDrops(true);
    }
}

TDragFile::~TDragFile()
{
    for (const Target &target : FTargets) {
        if (target.widget) {
            target.widget->removeEventFilter(this);
            target.widget->setAcceptDrops(target.acceptedDrops);
        }
    }
}

bool TDragFile::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto *drag = static_cast<QDropEvent *>(event);
        if (localPaths(drag->mimeData()).isEmpty()) {
            drag->ignore();
        } else {
            drag->setDropAction(Qt::CopyAction);
            drag->accept();
        }
        return true;
    }
    case QEvent::DragLeave:
        return true;
    case QEvent::Drop: {
        auto *drop = static_cast<QDropEvent *>(event);
        const QStringList paths = localPaths(drop->mimeData());
        if (paths.isEmpty()) {
            drop->ignore();
            return true;
        }
        // Accepted before the callback runs: the drop counts as taken
        // whatever the callback does with the paths.
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        if (FDropProc)
            FDropProc(paths);
        return true;
    }
    default:
        return QObject::eventFilter(watched, event);
    }
}
