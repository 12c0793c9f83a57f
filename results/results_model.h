#pragma once

#include "results/address_list.h"

#include <QAbstractListModel>

#include <string_view>

namespace orlenta {

// The results list: one e-mail address per row, in the order found. Addresses are ASCII, so
// they are kept as bytes in blocks (AddressList: compact with millions of rows) and turned
// into QString only when a view asks.
class ResultsModel final : public QAbstractListModel {
    Q_OBJECT

public:
    explicit ResultsModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    int count() const { return static_cast<int>(addresses_.size()); }
    std::string_view addressAt(int row) const {
        return addresses_.at(static_cast<std::size_t>(row));
    }
    // The list as it stands, to save from: later changes to the list (during a save's yields)
    // do not reach it.
    AddressSnapshot snapshot() const { return addresses_.snapshot(); }

    void append(std::string_view address);
    // Appends all of `addresses` at once, in order, with one insertion for the views (an
    // extraction run hands over what it found between two turns of the event loop).
    void append(AddressList&& addresses);
    // Changes nothing and gives false for a row outside 0 .. count() - 1 (no selection).
    bool removeAt(int row);
    void clear();

private:
    AddressList addresses_;
};

}  // namespace orlenta
