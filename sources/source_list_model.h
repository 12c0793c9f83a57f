#pragma once

#include <QAbstractListModel>
#include <QByteArray>
#include <QList>
#include <QStringList>

namespace orlenta {

// The source list: the paths of the files to extract from, in the order the run reads them.
// Entries are appended without any check (duplicates, folders and missing files included);
// nothing here reorders them but setPathAt, which the drag reordering uses to swap entries.
//
// Each entry is the file name's bytes, which is what the run opens; the list shows it as Qt
// shows such a name (QFile::decodeName), so a name that is not UTF-8 is shown with a
// replacement character but still opens. The dialogs, drops and the folder scan hand bytes;
// a name that only exists as text is turned into bytes with QFile::encodeName.
class SourceListModel final : public QAbstractListModel {
    Q_OBJECT

public:
    explicit SourceListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    int count() const { return paths_.size(); }
    const QByteArray& pathAt(int row) const { return paths_.at(row); }
    // The entry as the list shows it.
    QString shownPathAt(int row) const;

    void append(const QByteArray& path);
    void append(const QList<QByteArray>& paths);
    void append(const QString& path);
    void append(const QStringList& paths);
    // Both change nothing and give false for a row outside 0 .. count() - 1 (no selection).
    bool setPathAt(int row, const QByteArray& path);
    bool removeAt(int row);
    void clear();

private:
    QList<QByteArray> paths_;
};

}  // namespace orlenta
