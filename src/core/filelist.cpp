#include "filelist.h"

// Placeholders until the list model lands.
TFileListModel::TFileListModel(QObject *parent) : QAbstractTableModel(parent) {}
TFileListModel::~TFileListModel() = default;
int TFileListModel::rowCount(const QModelIndex &) const { return 0; }
int TFileListModel::columnCount(const QModelIndex &) const { return 3; }
QVariant TFileListModel::data(const QModelIndex &, int) const { return {}; }
QVariant TFileListModel::headerData(int, Qt::Orientation, int) const { return {}; }
void TFileListModel::setHeaderTexts(const QStringList &texts) { FHeaders = texts; }
QStringList TFileListModel::headerTexts() const { return FHeaders; }
const TFileInfo &TFileListModel::fileInfo(int row) const { return *FRows.at(row).info; }
QString TFileListModel::status(int row) const { return FRows.at(row).status; }
void TFileListModel::setStatus(int, const QString &) {}
bool TFileListModel::contains(const QString &fileName) const { return FNames.contains(fileName); }
void TFileListModel::append(std::unique_ptr<TFileInfo>, const QString &) {}
void TFileListModel::removeRowsAt(QList<int>) {}
void TFileListModel::clear() {}
void AddPath(TFileListModel &, const QString &) {}
