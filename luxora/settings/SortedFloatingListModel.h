// The user's transmittance presets in percent: an ascending list of distinct floats, shown as a list model.
#pragma once

#include <cstddef>

#include <QAbstractListModel>
#include <QVector>

// Deliberately without Q_OBJECT: QML sees a plain QAbstractListModel with the roles "index" and "transmittance".
// Every change is announced as a model reset, which the preset grid rebuilds from.
class SortedFloatingListModel : public QAbstractListModel {
public:
    enum Role {
        IndexRole = Qt::UserRole, // the row number, int
        TransmittanceRole,        // the value, float
    };

    explicit SortedFloatingListModel(QObject *parent = nullptr);
    ~SortedFloatingListModel() override;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    // Puts the value in its place; a value already present (exact comparison) changes nothing and emits nothing.
    // Not-a-number compares with nothing and is appended at the end.
    void Insert(float value);
    // Removes the value at a row; a row outside the list does nothing.
    void Remove(int row);
    std::size_t Count() const;
    // The value at a row below Count(); not-a-number for a row outside the list.
    float At(std::size_t row) const;

private:
    QVector<float> values;
};
