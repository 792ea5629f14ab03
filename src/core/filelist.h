#pragma once

#include "list.h"

#include <QAbstractTableModel>
#include <QSet>
#include <QStringList>

#include <memory>
#include <vector>

// The state of a row for the conversion job.
// Skipped: every output was there already (earlier outputs skipped).
enum class TRowState { Ready, Converting, Success, Fail, Skipped };

// The status text of a state: the translated "준비", "변환", "성공", "실패"
// or "건너뜀".
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
    // The reason of a failed row: the text given to setState, else the
    // plain words of its TReason in the language in force.
    QString reason(int row) const;
    TReason why(int row) const;
    QString printed(int row) const;
    // Sets a row's state; reason and printed text are replaced (printed cut
    // to its last kMaxPrinted characters with a marker in front). Rows out of
    // range are ignored.
    void setState(int row, TRowState state, const QString &reason = QString(), const QString &printed = QString());
    // Marks a row failed for why (worded when shown) with the details.
    void setFailed(int row, const TReason &why, const QString &printed);

    // Whether a row with exactly this FileName exists (no scan: indexed).
    bool contains(const QString &fileName) const;
    // Whether a row holds the file of this identity (TFileInfo::Identity).
    bool containsIdentity(const QString &identity) const;
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
        TReason why;
    };
    void assign(int row, TRowState state, const QString &reason, const TReason &why, const QString &printed);
    void forget(const Row &row);

    std::vector<Row> FRows;
    QSet<QString> FNames;
    QSet<QString> FIdentities;
    QStringList FHeaders;
};

// The sub-folder that keeps a file's place in the tree it was found in: the
// name of the walked folder, then the folders between it and the file, '/'
// between them, no '/' at either end. Empty for a file given by itself.
QString RelativeFolderOf(const TFileInfo &info);

// What a walk leaves alone: the output folder (by FolderIdentity) and the
// files a session wrote, so that outputs never become inputs.
struct TIntakeGuard {
    QString SkipFolder;      // identity of a folder never entered below a given folder
    QSet<QString> SkipFiles; // paths never taken, exactly as the walk builds them
};

// Adds a file, or every file below a folder (recursively, hidden entries
// included), to the list: each file not listed yet whose DetectImageType is
// not empty gets a Ready row; files found below a folder record that folder
// as their Root. A file is listed once however it is reached (another path,
// a folder link): its Identity decides. A folder link that leads back to one
// of its ancestors is not walked again.
//
// Nothing is dropped without a word: a folder that cannot be read and a name
// that is not valid UTF-8 (it cannot be opened by its decoded name) each get
// a refused row (TFileInfo::Refused) that fails in every run.
//
// The given path is taken with '/' as separator (QDir::fromNativeSeparators).
// Paths built by the walk have exactly one '/' between a folder and an entry,
// whether or not the given folder path ended in one. A path that names
// nothing is still offered to DetectImageType (which then judges it by its
// extension).
void AddPath(TFileListModel &list, const QString &path, const TIntakeGuard &guard = TIntakeGuard());

// The file-name part of a path: the text after its last separator.
QString FileTitle(const QString &path);
