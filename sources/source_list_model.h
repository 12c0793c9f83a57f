#pragma once

#include <QAbstractListModel>
#include <QStringList>

namespace orlenta {

// The source list: the paths of the files to extract from, in the order the run reads them.
// Entries are appended without any check (duplicates, folders and missing files included);
// nothing here reorders them but setPathAt, which the drag reordering uses to swap texts.
class SourceListModel final : public QAbstractListModel {
    Q_OBJECT

public:
    explicit SourceListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    int count() const { return paths_.size(); }
    const QString& pathAt(int row) const { return paths_.at(row); }

    void append(const QString& path);
    void append(const QStringList& paths);
    // Both change nothing and give false for a row outside 0 .. count() - 1 (no selection).
    bool setPathAt(int row, const QString& path);
    bool removeAt(int row);
    void clear();

private:
    QStringList paths_;
};

}  // namespace orlenta
