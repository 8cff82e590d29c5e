#include <QMetaProperty>
#include <QtTest>

#include <functional>
#include <memory>

#include "app/albumdatamodel.h"
#include "app/artistdatamodel.h"
#include "app/detaileddatamodel.h"
#include "app/trackdatamodel.h"
#include "app/tracklist.h"
#include "app/videooptimisationmodel.h"
#include "testenv.h"

using RowFactory = std::function<QObject *()>;
Q_DECLARE_METATYPE(RowFactory)

class TestRowModels : public QObject
{
    Q_OBJECT

private slots:
    void emitsOnlyOnChange_data();
    void emitsOnlyOnChange();
    void artistCoverArtAddsInsteadOfReplacing();
    void trackListComparesElementByElement();
};

// Every property of every row model, found through its meta-object.
void TestRowModels::emitsOnlyOnChange_data()
{
    QTest::addColumn<RowFactory>("make");
    QTest::addColumn<QByteArray>("property");
    const QList<RowFactory> factories = {
        [] { return new ArtistDataModel; },   [] { return new AlbumDataModel; },
        [] { return new TrackDataModel; },    [] { return new TrackList; },
        [] { return new DetailedDataModel; }, [] { return new VideoOptimisationModel; },
    };
    for (const RowFactory &make : factories) {
        std::unique_ptr<QObject> sample(make());
        const QMetaObject *meta = sample->metaObject();
        for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i) {
            const QByteArray name = meta->property(i).name();
            if (!(meta == &ArtistDataModel::staticMetaObject && name == "coverart")) // adds: tested below
                QTest::addRow("%s.%s", meta->className(), name.constData()) << make << name;
        }
    }
}

void TestRowModels::emitsOnlyOnChange()
{
    QFETCH(RowFactory, make);
    QFETCH(QByteArray, property);
    std::unique_ptr<QObject> row(make());
    const QMetaProperty prop = row->metaObject()->property(row->metaObject()->indexOfProperty(property));
    QCOMPARE(prop.notifySignal().name(), property + "Changed");
    QSignalSpy spy(row.get(), prop.notifySignal());

    // Initialised: the type's empty value, except that rows start visible.
    const QVariant initial = prop.read(row.get());
    QCOMPARE(initial, property == "visibility" ? QVariant(true) : QVariant(prop.metaType()));
    QVERIFY(prop.write(row.get(), initial));
    QCOMPARE(spy.count(), 0);

    QVariant changed;
    switch (initial.metaType().id()) {
    case QMetaType::Int:
        changed = 40000; // past 16 bits on purpose
        break;
    case QMetaType::Bool:
        changed = !initial.toBool();
        break;
    case QMetaType::QString:
        changed = QStringLiteral("changed");
        break;
    default:
        changed = QVariant::fromValue(QObjectList{row.get()});
    }
    QVERIFY(prop.write(row.get(), changed));
    QVERIFY(prop.write(row.get(), changed));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(prop.read(row.get()), changed);
}

void TestRowModels::artistCoverArtAddsInsteadOfReplacing()
{
    ArtistDataModel artist(1, 1, 1, QStringLiteral("A"), 0, false, true, {QStringLiteral("/one.png")});
    QSignalSpy spy(&artist, &ArtistDataModel::coverartChanged);
    artist.setCoverArt({});
    artist.setCoverArt({QStringLiteral("/one.png"), QStringLiteral("/two.png")}); // first one known
    QCOMPARE(spy.count(), 0);
    QCOMPARE(artist.coverart(), QStringList{QStringLiteral("/one.png")});
    artist.setCoverArt({QStringLiteral("/three.png"), QStringLiteral("/one.png")});
    QCOMPARE(spy.count(), 1);
    QCOMPARE(artist.coverart(),
             (QStringList{QStringLiteral("/one.png"), QStringLiteral("/three.png"), QStringLiteral("/one.png")}));
}

void TestRowModels::trackListComparesElementByElement()
{
    TrackList a;
    TrackList b;
    TrackDataModel row;
    QSignalSpy spy(&row, &TrackDataModel::tracklistChanged);
    row.setTrackList({&a, &b});
    row.setTrackList({&a, &b});
    QCOMPARE(spy.count(), 1);
    row.setTrackList({&b, &a});
    QCOMPARE(spy.count(), 2);
}

CORVANE_TEST_MAIN(TestRowModels)
#include "tst_rowmodels.moc"
