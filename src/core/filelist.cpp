#include "filelist.h"

#include "platform.h"
#include "translate.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

#include <algorithm>

TFileListModel::TFileListModel(QObject *parent) : QAbstractTableModel(parent) {}

TFileListModel::~TFileListModel() = default;

int TFileListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(FRows.size());
}

int TFileListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : 3;
}

QString StateText(TRowState state)
{
    switch (state) {
    case TRowState::Ready:
        return Translate(QStringLiteral("준비"));
    case TRowState::Converting:
        return Translate(QStringLiteral("변환"));
    case TRowState::Success:
        return Translate(QStringLiteral("성공"));
    case TRowState::Fail:
        return Translate(QStringLiteral("실패"));
    }
    return QString();
}

QVariant TFileListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= int(FRows.size()))
        return {};
    const Row &row = FRows[size_t(index.row())];
    if (role == Qt::ToolTipRole)
        return row.state == TRowState::Fail && !row.reason.isEmpty() ? QVariant(row.reason) : QVariant();
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case ColumnName:
        return row.info->Title;
    case ColumnType:
        return row.info->Format;
    case ColumnStatus:
        // A document being converted shows its pages written so far ("3/40").
        if (row.state == TRowState::Converting && !row.reason.isEmpty())
            return StateText(row.state) + QLatin1Char(' ') + row.reason;
        return StateText(row.state);
    default:
        return {};
    }
}

QVariant TFileListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= FHeaders.size())
        return {};
    return FHeaders.at(section);
}

void TFileListModel::setHeaderTexts(const QStringList &texts)
{
    FHeaders = texts;
    emit headerDataChanged(Qt::Horizontal, 0, columnCount() - 1);
}

QStringList TFileListModel::headerTexts() const
{
    return FHeaders;
}

const TFileInfo &TFileListModel::fileInfo(int row) const
{
    return *FRows.at(size_t(row)).info;
}

TRowState TFileListModel::state(int row) const
{
    return FRows.at(size_t(row)).state;
}

QString TFileListModel::status(int row) const
{
    return StateText(state(row));
}

QString TFileListModel::reason(int row) const
{
    return FRows.at(size_t(row)).reason;
}

QString TFileListModel::printed(int row) const
{
    return FRows.at(size_t(row)).printed;
}

void TFileListModel::setState(int row, TRowState state, const QString &reason, const QString &printed)
{
    if (row < 0 || row >= int(FRows.size()))
        return;
    Row &target = FRows[size_t(row)];
    target.state = state;
    target.reason = reason;
    // The end of a tool's output usually says what went wrong; a runaway
    // tool must not hold megabytes per row.
    if (printed.size() > kMaxPrinted)
        target.printed = QStringLiteral("[…]\n") + printed.right(kMaxPrinted);
    else
        target.printed = printed;
    emit dataChanged(index(row, 0), index(row, ColumnStatus), {Qt::DisplayRole, Qt::ToolTipRole});
}

bool TFileListModel::contains(const QString &fileName) const
{
    return FNames.contains(fileName);
}

void TFileListModel::append(std::unique_ptr<TFileInfo> info)
{
    std::vector<std::unique_ptr<TFileInfo>> one;
    one.push_back(std::move(info));
    appendRows(std::move(one));
}

void TFileListModel::appendRows(std::vector<std::unique_ptr<TFileInfo>> infos)
{
    if (infos.empty())
        return;
    const int first = int(FRows.size());
    beginInsertRows(QModelIndex(), first, first + int(infos.size()) - 1);
    FRows.reserve(FRows.size() + infos.size());
    FNames.reserve(FNames.size() + qsizetype(infos.size()));
    for (auto &info : infos) {
        FNames.insert(info->FileName);
        FRows.push_back(Row{std::move(info), TRowState::Ready, QString(), QString()});
    }
    endInsertRows();
}

void TFileListModel::removeRowsAt(QList<int> rows)
{
    const int count = int(FRows.size());
    rows.erase(std::remove_if(rows.begin(), rows.end(), [count](int r) { return r < 0 || r >= count; }),
               rows.end());
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    if (rows.isEmpty())
        return;

    // Contiguous runs, last first, so that earlier row numbers stay valid.
    QList<std::pair<int, int>> runs;
    for (int r : rows) {
        if (!runs.isEmpty() && runs.back().second + 1 == r)
            runs.back().second = r;
        else
            runs.append({r, r});
    }

    const auto forget = [this](int from, int to) {
        for (int r = from; r <= to; ++r)
            FNames.remove(FRows[size_t(r)].info->FileName);
    };

    // Each run removed on its own costs a move of the rows behind it; beyond
    // a few dozen runs one compaction and a reset is far cheaper.
    constexpr int kMaxSeparateRuns = 64;
    if (runs.size() <= kMaxSeparateRuns) {
        for (auto it = runs.crbegin(); it != runs.crend(); ++it) {
            beginRemoveRows(QModelIndex(), it->first, it->second);
            forget(it->first, it->second);
            FRows.erase(FRows.begin() + it->first, FRows.begin() + it->second + 1);
            endRemoveRows();
        }
        return;
    }

    beginResetModel();
    std::vector<Row> kept;
    kept.reserve(FRows.size() - size_t(rows.size()));
    qsizetype next = 0;
    for (int r = 0; r < count; ++r) {
        if (next < rows.size() && rows[next] == r) {
            FNames.remove(FRows[size_t(r)].info->FileName);
            ++next;
        } else {
            kept.push_back(std::move(FRows[size_t(r)]));
        }
    }
    FRows = std::move(kept);
    endResetModel();
}

void TFileListModel::clear()
{
    if (FRows.empty())
        return;
    beginResetModel();
    FRows.clear();
    FNames.clear();
    endResetModel();
}

QString RelativeFolderOf(const TFileInfo &info)
{
    if (info.Root.isEmpty() || !info.FileName.startsWith(info.Root))
        return QString();
    // The walked folder's own name, as the path resolves it: a root given as
    // "pics/.." or "/" has no name to keep, and the result must never lead
    // out of the folder it is put under.
    QString folderName = FileTitle(QDir::cleanPath(info.Root));
    if (folderName == QLatin1String("..") || folderName == QLatin1String("."))
        folderName.clear();
    const QString inside = info.FileName.mid(info.Root.size());
    const qsizetype cut = inside.lastIndexOf(QLatin1Char('/'));
    const QString below = cut < 0 ? QString() : inside.left(cut);
    if (folderName.isEmpty())
        return below;
    return below.isEmpty() ? folderName : folderName + QLatin1Char('/') + below;
}

QString FileTitle(const QString &path)
{
    qsizetype cut = path.size() - 1;
    while (cut >= 0 && !IsPathSeparator(path.at(cut)))
        --cut;
    return path.mid(cut + 1);
}

namespace {

bool endsWithSeparator(const QString &path)
{
    return path.endsWith(QLatin1Char('/')) || path.endsWith(QDir::separator());
}

// What tells two paths of one folder apart from two folders: device and
// inode where the system has them, else the canonical path. Empty when the
// folder cannot be looked at (it is then never taken for an ancestor).
QString folderIdentity(const QString &folder)
{
    return FolderIdentity(folder);
}

// One AddPath call: walks the tree and hands new rows to the list in chunks,
// so that a large tree costs few insert notifications.
class TIntake
{
public:
    explicit TIntake(TFileListModel &list) : FList(list), FListWasEmpty(list.rowCount() == 0)
    {
    }
    ~TIntake() { flush(); }

    void addPath(const QString &path)
    {
        const QString folder = endsWithSeparator(path) ? path : path + QLatin1Char('/');
        const QFileInfo folderInfo(folder);
        if (!folderInfo.isDir()) {
            // Sockets, pipes and devices are never opened: reading a pipe
            // would block the window until someone writes to it.
            const QFileInfo fileInfo(path);
            if (!fileInfo.exists() || fileInfo.isFile())
                addImageFile(path);
            return;
        }

        // The folder given to the walk is the root of every file below it.
        const bool isRoot = FRoot.isEmpty();
        if (isRoot)
            FRoot = folder;
        const QString identity = folderIdentity(folder);
        if (!identity.isEmpty() && FAncestors.contains(identity)) {
            if (isRoot)
                FRoot.clear();
            return;
        }
        FAncestors.append(identity);

        QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        while (it.hasNext()) {
            const QFileInfo entry = it.nextFileInfo();
            const QString entryPath = folder + entry.fileName();
            if (entry.isDir())
                addPath(entryPath);
            else if (!entry.exists() || entry.isFile())
                addImageFile(entryPath);
        }

        FAncestors.removeLast();
        if (isRoot)
            FRoot.clear();
    }

private:
    void addImageFile(const QString &path)
    {
        // Only rows from before this walk can be duplicates: one walk never
        // meets a path twice (names in a folder differ, and each folder path
        // is walked once). So a walk into an empty list tests nothing.
        if (!FListWasEmpty && FList.contains(path))
            return;
        const QString type = DetectImageType(path);
        if (type.isEmpty())
            return;
        auto info = std::make_unique<TFileInfo>();
        info->FileName = path;
        info->Title = FileTitle(path);
        info->Format = type;
        info->Root = FRoot;
        FPending.push_back(std::move(info));
        if (FPending.size() >= kChunk)
            flush();
    }

    void flush()
    {
        FList.appendRows(std::move(FPending));
        FPending.clear();
    }

    static constexpr size_t kChunk = 4096;
    TFileListModel &FList;
    QString FRoot; // the folder the current walk started from
    const bool FListWasEmpty;
    std::vector<std::unique_ptr<TFileInfo>> FPending;
    QStringList FAncestors; // identities of the folders being walked
};

} // namespace

void AddPath(TFileListModel &list, const QString &path)
{
    // An empty path would become the root folder and walk the whole disk.
    if (path.isEmpty())
        return;
    TIntake intake(list);
    // One separator from here on: the list, the engine and the output names
    // see the same form on every system.
    intake.addPath(QDir::fromNativeSeparators(path));
}
