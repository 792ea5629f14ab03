#include "addfiles.h"

#include "list.h"
#include "translate.h"

#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QWidget>

namespace
{

// A dialog title from a menu caption: without its trailing ellipsis.
QString titleOf(const QString &caption)
{
    QString title = Translate(caption);
    if (title.endsWith(QChar(0x2026)))
        title.chop(1);
    return title.trimmed();
}

} // namespace

QStringList ImageNameFilters()
{
    QStringList patterns;
    for (const QString &ext : SupportedExtensions())
        patterns << QStringLiteral("*.") + ext.toLower();
    // Types recognised by their first bytes, under their usual extensions.
    for (const char *ext :
         {"tif", "tiff", "ico",  "jfif", "jpe", "heif", "jp2", "jxr", "eps", "pcx",  "dds", "hdr",
          "xcf", "wmf",  "pict", "pic",  "ras", "orf",  "jng", "dcx", "cin", "viff", "flif"}) {
        const QString pattern = QStringLiteral("*.") + QLatin1String(ext);
        if (!patterns.contains(pattern))
            patterns << pattern;
    }
    const qsizetype lower = patterns.size();
    for (qsizetype i = 0; i < lower; ++i)
        patterns << patterns[i].toUpper();
    return {Translate(QStringLiteral("이미지 파일")) + QStringLiteral(" (") +
                patterns.join(QLatin1Char(' ')) + QLatin1Char(')'),
            Translate(QStringLiteral("모든 파일")) + QStringLiteral(" (*)")};
}

QStringList ExistingPaths(const QStringList &arguments)
{
    QStringList paths;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (argument.isEmpty())
            continue;
        const QString path = QDir::cleanPath(QDir::current().absoluteFilePath(argument));
        if (QFileInfo::exists(path))
            paths << path;
    }
    return paths;
}

TAddFiles::TAddFiles(QWidget *window, QMenu *listMenu, std::function<bool()> canAdd,
                     std::function<void(const QStringList &)> add)
    : QObject(window), FWindow(window), FFolder(QDir::homePath()), FCanAdd(std::move(canAdd)),
      FAdd(std::move(add))
{
    BtnAddFiles = new QAction(QStringLiteral("파일 추가…"), window);
    BtnAddFiles->setObjectName(QStringLiteral("BtnAddFiles"));
    BtnAddFiles->setShortcut(QKeySequence::Open);
    BtnAddFolder = new QAction(QStringLiteral("폴더 추가…"), window);
    BtnAddFolder->setObjectName(QStringLiteral("BtnAddFolder"));
    BtnAddFolder->setShortcut(QKeySequence(Qt::Key_Insert));
    for (QAction *action : {BtnAddFiles, BtnAddFolder}) {
        action->setShortcutContext(Qt::WindowShortcut);
        // Shortcuts work anywhere in the window, not only with the menu open.
        window->addAction(action);
    }
    QAction *first = listMenu->actions().value(0);
    listMenu->insertActions(first, {BtnAddFiles, BtnAddFolder});
    if (first)
        listMenu->insertSeparator(first);
    connect(BtnAddFiles, &QAction::triggered, this, &TAddFiles::BtnAddFilesClick);
    connect(BtnAddFolder, &QAction::triggered, this, &TAddFiles::BtnAddFolderClick);
}

void TAddFiles::BtnAddFilesClick()
{
    if (FCanAdd && !FCanAdd())
        return;
    QFileDialog dialog(FWindow, titleOf(QStringLiteral("파일 추가…")), FFolder);
    dialog.setObjectName(QStringLiteral("DlgAddFiles"));
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilters(ImageNameFilters());
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty())
        return;
    // The folder of the files taken, which is not always the one shown.
    FFolder = QFileInfo(chosen.first()).absolutePath();
    if (!FCanAdd || FCanAdd())
        FAdd(chosen);
}

void TAddFiles::BtnAddFolderClick()
{
    if (FCanAdd && !FCanAdd())
        return;
    QFileDialog dialog(FWindow, titleOf(QStringLiteral("폴더 추가…")), FFolder);
    dialog.setObjectName(QStringLiteral("DlgAddFolder"));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setLabelText(QFileDialog::Accept, Translate(QStringLiteral("선택")));
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty())
        return;
    const QString folder = QDir::cleanPath(chosen.first());
    if (!QFileInfo(folder).isDir())
        return;
    FFolder = folder;
    if (!FCanAdd || FCanAdd())
        FAdd({folder});
}
