#include "results/results_model.h"

#include <utility>

namespace orlenta {

ResultsModel::ResultsModel(QObject* parent) : QAbstractListModel(parent) {}

int ResultsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : count();
}

QVariant ResultsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= count()) {
        return {};
    }
    if (role == Qt::DisplayRole || role == Qt::EditRole) {
        const std::string_view address = addressAt(index.row());
        return QString::fromLatin1(address.data(), static_cast<qsizetype>(address.size()));
    }
    return {};
}

QVariant ResultsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (section == 0 && orientation == Qt::Horizontal && role == Qt::DisplayRole) {
        return QStringLiteral("Results");
    }
    return {};
}

void ResultsModel::append(std::string_view address) {
    const int row = count();
    beginInsertRows({}, row, row);
    addresses_.add(address);
    endInsertRows();
}

void ResultsModel::append(AddressList&& addresses) {
    if (addresses.empty()) {
        return;
    }
    const int row = count();
    beginInsertRows({}, row, row + static_cast<int>(addresses.size()) - 1);
    addresses_.append(std::move(addresses));
    endInsertRows();
}

bool ResultsModel::removeAt(int row) {
    if (row < 0 || row >= count()) {
        return false;
    }
    beginRemoveRows({}, row, row);
    addresses_.remove(static_cast<std::size_t>(row));
    endRemoveRows();
    return true;
}

void ResultsModel::clear() {
    if (addresses_.empty()) {
        return;
    }
    beginResetModel();
    addresses_ = AddressList();  // gives the memory back
    endResetModel();
}

}  // namespace orlenta
