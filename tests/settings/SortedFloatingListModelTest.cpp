// The preset list: order, duplicates, resets and roles as the preset grid and the settings files rely on them.
#include "settings/SortedFloatingListModel.h"

#include <cmath>

#include <QAbstractItemModelTester>
#include <QtTest>

namespace {

QVector<float> Values(const SortedFloatingListModel &model) {
    QVector<float> values;
    for (std::size_t row = 0; row < model.Count(); ++row) {
        values.append(model.At(row));
    }
    return values;
}

} // namespace

class SortedFloatingListModelTest : public QObject {
    Q_OBJECT

private slots:
    void changesKeepTheListAscendingAndDistinctWithOneResetEach() {
        SortedFloatingListModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
        for (const float value : {50.0f, 20.0f, 80.0f, 50.0f, 50.5f}) {
            model.Insert(value);
        }
        QCOMPARE(Values(model), (QVector<float>{20, 50, 50.5f, 80}));
        QCOMPARE(resets.count(), 4); // the second 50 changed nothing

        model.Remove(-1);
        model.Remove(4);
        QCOMPARE(resets.count(), 4);
        model.Remove(1);
        QCOMPARE(Values(model), (QVector<float>{20, 50.5f, 80}));
        QCOMPARE(resets.count(), 5);
    }

    void notANumberGoesToTheEnd() {
        SortedFloatingListModel model;
        for (const float value : {10.0f, NAN, 5.0f}) {
            model.Insert(value);
        }
        QCOMPARE(Values(model).mid(0, 2), (QVector<float>{5, 10}));
        QVERIFY(std::isnan(model.At(2)));
    }

    void rolesGiveTheRowAndTheFloatValue() {
        SortedFloatingListModel model;
        model.Insert(80.0f);
        model.Insert(20.0f);
        QCOMPARE(model.roleNames(),
                 (QHash<int, QByteArray>{{Qt::UserRole, "index"}, {Qt::UserRole + 1, "transmittance"}}));
        QCOMPARE(model.data(model.index(1), Qt::UserRole), QVariant(1));
        const QVariant value = model.data(model.index(1), Qt::UserRole + 1);
        QCOMPARE(value.userType(), int(QMetaType::Float));
        QCOMPARE(value.toFloat(), 80.0f);
        QVERIFY(!model.data(model.index(1), Qt::DisplayRole).isValid());
    }
};

QTEST_GUILESS_MAIN(SortedFloatingListModelTest)
#include "SortedFloatingListModelTest.moc"
