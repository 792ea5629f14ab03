#pragma once

#include "list.h"

#include <QAbstractTableModel>
#include <QSet>
#include <QStringList>

#include <memory>
#include <vector>

// The file list: one row per input file, in the order added. Each row owns
// its TFileInfo and has a status text (the row's state for the conversion
// job). Columns: file name (Title), type (Format), status.
//
// The conversion worker reads rows (fileInfo, status) from its own thread
// while a job runs; the window guarantees that no row is added, removed or
// moved meanwhile, and writes statuses only through blocking hand-overs.
class TFileListModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { ColumnName = 0, ColumnType = 1, ColumnStatus = 2 };

    explicit TFileListModel(QObject *parent = nullptr);
    ~TFileListModel() override;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // Column captions (translated by the window).
    void setHeaderTexts(const QStringList &texts);
    QStringList headerTexts() const;

    const TFileInfo &fileInfo(int row) const;
    QString status(int row) const;
    void setStatus(int row, const QString &status);

    // Whether a row with exactly this FileName exists (no scan: indexed).
    bool contains(const QString &fileName) const;
    void append(std::unique_ptr<TFileInfo> info, const QString &status);
    // Appends several rows in one insertion (one notification for the view).
    // Every FileName must be new to the list and unique within infos.
    void appendRows(std::vector<std::unique_ptr<TFileInfo>> infos, const QString &status);
    // Removes the given rows (any order, duplicates and rows out of range
    // ignored); the other rows keep their order.
    void removeRowsAt(QList<int> rows);
    void clear();

private:
    struct Row
    {
        std::unique_ptr<TFileInfo> info;
        QString status;
    };
    std::vector<Row> FRows;
    QSet<QString> FNames;
    QStringList FHeaders;
};

// Adds a file, or every file below a folder (recursively, hidden entries
// included), to the list: each file not listed yet whose DetectImageType is
// not empty gets a row with status Translate("준비"). A folder link that leads
// back to one of its ancestors is not walked again.
//
// The given path is taken with '/' as separator (QDir::fromNativeSeparators).
// Paths built by the walk have exactly one '/' between a folder and an entry,
// whether or not the given folder path ended in one. A path that names
// nothing is still offered to DetectImageType (which then judges it by its
// extension). A folder that cannot be read adds nothing and reports nothing.
void AddPath(TFileListModel &list, const QString &path);

// The file-name part of a path: the text after its last separator.
QString FileTitle(const QString &path);
