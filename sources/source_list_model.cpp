#include "sources/source_list_model.h"

#include <QFile>

namespace orlenta {

SourceListModel::SourceListModel(QObject* parent) : QAbstractListModel(parent) {}

int SourceListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : paths_.size();
}

QVariant SourceListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= paths_.size()) {
        return {};
    }
    if (role == Qt::DisplayRole || role == Qt::EditRole) {
        return shownPathAt(index.row());
    }
    return {};
}

QVariant SourceListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (section == 0 && orientation == Qt::Horizontal && role == Qt::DisplayRole) {
        return QStringLiteral("File(s)");
    }
    return {};
}

QString SourceListModel::shownPathAt(int row) const {
    return QFile::decodeName(paths_.at(row));
}

void SourceListModel::append(const QByteArray& path) {
    append(QList<QByteArray>{path});
}

void SourceListModel::append(const QString& path) {
    append(QFile::encodeName(path));
}

void SourceListModel::append(const QStringList& paths) {
    QList<QByteArray> encoded;
    encoded.reserve(paths.size());
    for (const QString& path : paths) {
        encoded.append(QFile::encodeName(path));
    }
    append(encoded);
}

void SourceListModel::append(const QList<QByteArray>& paths) {
    if (paths.isEmpty()) {
        return;
    }
    beginInsertRows({}, paths_.size(), paths_.size() + paths.size() - 1);
    paths_ += paths;
    endInsertRows();
}

bool SourceListModel::setPathAt(int row, const QByteArray& path) {
    if (row < 0 || row >= paths_.size()) {
        return false;
    }
    paths_[row] = path;
    const QModelIndex changed = index(row);
    emit dataChanged(changed, changed, {Qt::DisplayRole});
    return true;
}

bool SourceListModel::removeAt(int row) {
    if (row < 0 || row >= paths_.size()) {
        return false;
    }
    beginRemoveRows({}, row, row);
    paths_.removeAt(row);
    endRemoveRows();
    return true;
}

void SourceListModel::clear() {
    if (paths_.isEmpty()) {
        return;
    }
    beginResetModel();
    paths_.clear();
    endResetModel();
}

}  // namespace orlenta
