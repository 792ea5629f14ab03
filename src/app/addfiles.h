#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class QAction;
class QMenu;
class QWidget;

// Name filters of the "Add files" dialog: the images by every extension the
// list accepts (both letter cases), then all files, since an image is also
// recognised by its first bytes whatever its name.
QStringList ImageNameFilters();

// The arguments of a normal start (program path first) that name existing
// files or folders, made absolute against the working folder, in order.
// Anything else is ignored.
QStringList ExistingPaths(const QStringList &arguments);

// "Add files…" and "Add folder…": two items put at the top of the list's
// menu, with Ctrl+O and Insert as shortcuts anywhere in the window. Each
// opens a file dialog (several existing files, or one existing folder) that
// starts in the folder last used and hands the chosen paths to add. Nothing
// opens while canAdd() is false. Captions are the Korean texts, translated
// with the window's captions.
class TAddFiles : public QObject
{
    Q_OBJECT
  public:
    TAddFiles(QWidget *window, QMenu *listMenu, std::function<bool()> canAdd,
              std::function<void(const QStringList &)> add);

    QAction *addFilesAction() const { return BtnAddFiles; }
    QAction *addFolderAction() const { return BtnAddFolder; }

    void BtnAddFilesClick();
    void BtnAddFolderClick();

  private:
    QWidget *FWindow;
    QString FFolder; // where the next dialog starts
    std::function<bool()> FCanAdd;
    std::function<void(const QStringList &)> FAdd;
    QAction *BtnAddFiles = nullptr;
    QAction *BtnAddFolder = nullptr;
};
