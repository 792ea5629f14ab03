#pragma once

#include "list.h"

#include <QAbstractTableModel>
#include <QSet>
#include <QStringList>

#include <memory>
#include <vector>

// The state of a row for the conversion job.
enum class TRowState { Ready, Converting, Success, Fail };

// The status text of a state: the translated "준비", "변환", "성공" or "실패".
QString StateText(TRowState state);

// The file list: one row per input file, in the order added. Each row owns
// its TFileInfo, a state, and for a finished row the reason of a failure and
// what the tools printed (capped at kMaxPrinted bytes' worth of characters).
// Columns: file name (Title), type (Format), status (StateText of the state).
// A failed row shows its reason as the tooltip of every column.
//
// Used on the window thread only; a job works on a copy of the rows.
class TFileListModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { ColumnName = 0, ColumnType = 1, ColumnStatus = 2 };
    static constexpr qsizetype kMaxPrinted = 16 * 1024;

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
    TRowState state(int row) const;
    QString status(int row) const; // StateText(state(row))
    QString reason(int row) const;
    QString printed(int row) const;
    // Sets a row's state; reason and printed text are replaced (printed cut
    // to its last kMaxPrinted characters with a marker in front). Rows out of
    // range are ignored.
    void setState(int row, TRowState state, const QString &reason = QString(), const QString &printed = QString());

    // Whether a row with exactly this FileName exists (no scan: indexed).
    bool contains(const QString &fileName) const;
    void append(std::unique_ptr<TFileInfo> info);
    // Appends several rows in one insertion (one notification for the view),
    // all Ready. Every FileName must be new to the list and unique within infos.
    void appendRows(std::vector<std::unique_ptr<TFileInfo>> infos);
    // Removes the given rows (any order, duplicates and rows out of range
    // ignored); the other rows keep their order.
    void removeRowsAt(QList<int> rows);
    void clear();

private:
    struct Row
    {
        std::unique_ptr<TFileInfo> info;
        TRowState state = TRowState::Ready;
        QString reason;
        QString printed;
    };
    std::vector<Row> FRows;
    QSet<QString> FNames;
    QStringList FHeaders;
};

// The sub-folder that keeps a file's place in the tree it was found in: the
// name of the walked folder, then the folders between it and the file, '/'
// between them, no '/' at either end. Empty for a file given by itself.
QString RelativeFolderOf(const TFileInfo &info);

// Adds a file, or every file below a folder (recursively, hidden entries
// included), to the list: each file not listed yet whose DetectImageType is
// not empty gets a Ready row; files found below a folder record that folder
// as their Root. A folder link that leads
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
