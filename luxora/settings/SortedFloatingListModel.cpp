// Sorted preset list; no bound of its own, the callers keep it to 40 values.
#include "settings/SortedFloatingListModel.h"

#include <limits>

SortedFloatingListModel::SortedFloatingListModel(QObject *parent) : QAbstractListModel(parent) {}

SortedFloatingListModel::~SortedFloatingListModel() = default;

int SortedFloatingListModel::rowCount(const QModelIndex &parent) const {
    // A list has rows under the root only; telling views that rows have children breaks tree-aware ones.
    return parent.isValid() ? 0 : values.size();
}

QVariant SortedFloatingListModel::data(const QModelIndex &index, int role) const {
    switch (role) {
    case IndexRole:
        return index.row();
    case TransmittanceRole:
        if (index.row() >= 0 && index.row() < values.size()) {
            return QVariant::fromValue(values.at(index.row()));
        }
        return {};
    default:
        return {};
    }
}

QHash<int, QByteArray> SortedFloatingListModel::roleNames() const {
    return {{IndexRole, QByteArrayLiteral("index")}, {TransmittanceRole, QByteArrayLiteral("transmittance")}};
}

void SortedFloatingListModel::Insert(float value) {
    int row = 0;
    for (; row < values.size(); ++row) {
        if (values.at(row) > value) {
            break;
        }
        if (values.at(row) == value) {
            return;
        }
    }
    beginResetModel();
    values.insert(row, value);
    endResetModel();
}

void SortedFloatingListModel::Remove(int row) {
    if (row < 0 || row >= values.size()) {
        return;
    }
    beginResetModel();
    values.removeAt(row);
    endResetModel();
}

std::size_t SortedFloatingListModel::Count() const {
    return static_cast<std::size_t>(values.size());
}

float SortedFloatingListModel::At(std::size_t row) const {
    if (row >= Count()) {
        return std::numeric_limits<float>::quiet_NaN();
    }
    return values.at(static_cast<int>(row));
}
