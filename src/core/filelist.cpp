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
    case TRowState::Skipped:
        return Translate(QStringLiteral("건너뜀"));
    }
    return QString();
}

QVariant TFileListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= int(FRows.size()))
        return {};
    const Row &row = FRows[size_t(index.row())];
    if (role == Qt::ToolTipRole) {
        // A failure's reason, or a success's word on what was left out.
        // While a document converts: its state and the pages written so far.
        const QString text = row.state == TRowState::Fail ? this->reason(index.row())
                             : row.state == TRowState::Success || row.state == TRowState::Skipped ? row.reason
                             : row.state == TRowState::Converting && !row.reason.isEmpty()
                                 ? StateText(row.state) + QLatin1Char(' ') + row.reason
                                 : QString();
        return text.isEmpty() ? QVariant() : QVariant(text);
    }
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case ColumnName:
        return row.info->Title;
    case ColumnType:
        return row.info->Format;
    case ColumnStatus:
        // A document being converted shows its pages written so far
        // ("3/40"), which fits the column in every language.
        if (row.state == TRowState::Converting && !row.reason.isEmpty())
            return row.reason;
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
    const Row &target = FRows.at(size_t(row));
    return target.reason.isEmpty() ? ReasonText(target.why) : target.reason;
}

TReason TFileListModel::why(int row) const
{
    return FRows.at(size_t(row)).why;
}

QString TFileListModel::printed(int row) const
{
    return FRows.at(size_t(row)).printed;
}

void TFileListModel::setState(int row, TRowState state, const QString &reason, const QString &printed)
{
    assign(row, state, reason, TReason(), printed);
}

void TFileListModel::setFailed(int row, const TReason &why, const QString &printed)
{
    assign(row, TRowState::Fail, QString(), why, printed);
}

void TFileListModel::assign(int row, TRowState state, const QString &reason, const TReason &why,
                            const QString &printed)
{
    if (row < 0 || row >= int(FRows.size()))
        return;
    Row &target = FRows[size_t(row)];
    target.state = state;
    target.reason = reason;
    target.why = why;
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

bool TFileListModel::containsIdentity(const QString &identity) const
{
    return !identity.isEmpty() && FIdentities.contains(identity);
}

void TFileListModel::forget(const Row &row)
{
    FNames.remove(row.info->FileName);
    if (!row.info->Identity.isEmpty())
        FIdentities.remove(row.info->Identity);
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
        if (!info->Identity.isEmpty())
            FIdentities.insert(info->Identity);
        FRows.push_back(Row{std::move(info), TRowState::Ready, QString(), QString(), TReason()});
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

    const auto forgetRun = [this](int from, int to) {
        for (int r = from; r <= to; ++r)
            forget(FRows[size_t(r)]);
    };

    // Each run removed on its own costs a move of the rows behind it; beyond
    // a few dozen runs one compaction and a reset is far cheaper.
    constexpr int kMaxSeparateRuns = 64;
    if (runs.size() <= kMaxSeparateRuns) {
        for (auto it = runs.crbegin(); it != runs.crend(); ++it) {
            beginRemoveRows(QModelIndex(), it->first, it->second);
            forgetRun(it->first, it->second);
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
            forget(FRows[size_t(r)]);
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
    FIdentities.clear();
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

// Whether a name read from a folder could not be decoded: the system gave
// bytes that are not UTF-8, so the decoded name (with U+FFFD for them) leads
// nowhere.
bool isUndecodableName(const QFileInfo &entry)
{
    return entry.fileName().contains(QChar(QChar::ReplacementCharacter)) && !entry.exists() &&
           !entry.isSymLink();
}

// One AddPath call: walks the tree and hands new rows to the list in chunks,
// so that a large tree costs few insert notifications.
class TIntake
{
public:
  TIntake(TFileListModel &list, const TIntakeGuard &guard)
      : FList(list), FGuard(guard), FListWasEmpty(list.rowCount() == 0)
  {
  }
    ~TIntake() { flush(); }

    void addPath(const QString &path)
    {
        const QString folder = endsWithSeparator(path) ? path : path + QLatin1Char('/');
        if (!QFileInfo(folder).isDir()) {
            // Sockets, pipes and devices are never opened: reading a pipe
            // would block the window until someone writes to it.
            const QFileInfo fileInfo(path);
            if (isUndecodableName(fileInfo))
                addRefused(path, TReasonKind::BadName);
            else if (!fileInfo.exists() || fileInfo.isFile())
                addImageFile(path);
            return;
        }

        // The folder given to the walk is the root of every file below it.
        const bool isRoot = FRoot.isEmpty();
        if (isRoot)
            FRoot = folder;
        // Each folder is walked once, whichever path leads to it; the output
        // folder is never entered from above.
        const QString identity = folderIdentity(folder);
        const bool skipped =
            !identity.isEmpty() && ((!isRoot && identity == FGuard.SkipFolder) || FWalked.contains(identity));
        if (!skipped) {
            FWalked.insert(identity);
            walk(folder);
        }
        if (!isRoot)
            return;
        // Links last, so that a file reached both ways keeps the path without
        // the link.
        while (!FLinks.isEmpty())
            addPath(FLinks.takeFirst());
        FRoot.clear();
    }

  private:
    void walk(const QString &folder)
    {
        QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        bool any = false;
        while (it.hasNext()) {
            any = true;
            const QFileInfo entry = it.nextFileInfo();
            const QString entryPath = folder + entry.fileName();
            if (isUndecodableName(entry))
                addRefused(entryPath, TReasonKind::BadName);
            else if (entry.isSymLink())
                FLinks.append(entryPath);
            else if (entry.isDir())
                addPath(entryPath);
            else if (!entry.exists() || entry.isFile())
                addImageFile(entryPath);
        }
        for (const QString &name : UndecodableEntries(folder)) {
            any = true;
            addRefused(folder + name, TReasonKind::BadName);
        }
        // An empty folder lists nothing either; one that may not be listed
        // or entered is said so.
        const QFileInfo info(folder);
        if (!any && (!info.isReadable() || !info.isExecutable()))
            addRefused(folder.chopped(1), TReasonKind::FolderUnreadable);
    }

    void addImageFile(const QString &path)
    {
        // Only rows from before this walk can have the same path: one walk
        // never meets a path twice (names in a folder differ, and each
        // folder path is walked once). The same file reached by two paths
        // shows by its identity.
        if ((!FListWasEmpty && FList.contains(path)) || FGuard.SkipFiles.contains(path))
            return;
        const QString type = DetectImageType(path);
        if (type.isEmpty())
            return;
        const QString identity = FolderIdentity(path);
        if (!identity.isEmpty()) {
            if (FList.containsIdentity(identity) || FIdentities.contains(identity))
                return;
            FIdentities.insert(identity);
        }
        auto info = makeInfo(path);
        info->Format = type;
        info->Identity = identity;
        push(std::move(info));
    }

    // A row that fails without a tool run, for an entry that cannot be
    // taken as it is.
    void addRefused(const QString &path, TReasonKind why)
    {
        if (!FListWasEmpty && FList.contains(path))
            return;
        auto info = makeInfo(path);
        info->Format = DetectImageTypeFromHeader(QByteArrayView(), path);
        info->Refused = why;
        push(std::move(info));
    }

    std::unique_ptr<TFileInfo> makeInfo(const QString &path) const
    {
        auto info = std::make_unique<TFileInfo>();
        info->FileName = path;
        info->Title = FileTitle(path);
        info->Root = FRoot;
        return info;
    }

    void push(std::unique_ptr<TFileInfo> info)
    {
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
    const TIntakeGuard &FGuard;
    QString FRoot; // the folder the current walk started from
    const bool FListWasEmpty;
    std::vector<std::unique_ptr<TFileInfo>> FPending;
    QSet<QString> FWalked;     // identities of the folders walked
    QStringList FLinks;        // links met, taken after the rest
    QSet<QString> FIdentities; // files taken by this walk
};

} // namespace

void AddPath(TFileListModel &list, const QString &path, const TIntakeGuard &guard)
{
    // An empty path would become the root folder and walk the whole disk.
    if (path.isEmpty())
        return;
    TIntake intake(list, guard);
    // One separator from here on: the list, the engine and the output names
    // see the same form on every system.
    intake.addPath(QDir::fromNativeSeparators(path));
}
