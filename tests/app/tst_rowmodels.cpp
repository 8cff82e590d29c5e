#include <QMetaProperty>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QSignalSpy>
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

namespace {

// A value of the property's type that differs from `current`.
QVariant otherValue(const QVariant &current, QObject *owner)
{
    switch (current.metaType().id()) {
    case QMetaType::Int:
        return current.toInt() + 40000; // past 16 bits on purpose
    case QMetaType::Bool:
        return !current.toBool();
    case QMetaType::QString:
        return current.toString() + QStringLiteral(" changed");
    case QMetaType::QStringList:
        return current.toStringList() << QStringLiteral("other.png");
    default:
        if (current.metaType() == QMetaType::fromType<QList<QObject *>>()) {
            auto list = current.value<QList<QObject *>>();
            list.append(new QObject(owner));
            return QVariant::fromValue(list);
        }
        return QVariant();
    }
}

} // namespace

class TestRowModels : public QObject
{
    Q_OBJECT

private slots:
    void everyProperty_data();
    void everyProperty();
    void defaultsAreInitialised();
    void fullConstructorsKeepTheirArguments();
    void artistCoverArtAddsInsteadOfReplacing();
    void trackListComparesElementByElement();
    void qmlWritesSelectedThroughAContextList();
};

void TestRowModels::everyProperty_data()
{
    QTest::addColumn<RowFactory>("make");
    QTest::addColumn<QString>("property");
    const QList<QPair<QString, RowFactory>> classes = {
        {QStringLiteral("ArtistDataModel"), [] { return new ArtistDataModel; }},
        {QStringLiteral("AlbumDataModel"), [] { return new AlbumDataModel; }},
        {QStringLiteral("TrackDataModel"), [] { return new TrackDataModel; }},
        {QStringLiteral("TrackList"), [] { return new TrackList; }},
        {QStringLiteral("DetailedDataModel"), [] { return new DetailedDataModel; }},
        {QStringLiteral("VideoOptimisationModel"), [] { return new VideoOptimisationModel; }},
    };
    for (const auto &entry : classes) {
        std::unique_ptr<QObject> sample(entry.second());
        const QMetaObject *meta = sample->metaObject();
        for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i) {
            const QString name = QString::fromLatin1(meta->property(i).name());
            // The artist's cover list adds instead of replacing: tested below.
            if (entry.first == QLatin1String("ArtistDataModel") && name == QLatin1String("coverart"))
                continue;
            QTest::addRow("%s.%s", qPrintable(entry.first), qPrintable(name)) << entry.second << name;
        }
    }
}

void TestRowModels::everyProperty()
{
    QFETCH(RowFactory, make);
    QFETCH(QString, property);
    std::unique_ptr<QObject> row(make());
    const QMetaObject *meta = row->metaObject();
    const QMetaProperty prop = meta->property(meta->indexOfProperty(qPrintable(property)));
    QVERIFY(prop.isReadable());
    QVERIFY(prop.isWritable());
    QVERIFY(prop.hasNotifySignal());
    QCOMPARE(QString::fromLatin1(prop.notifySignal().name()), property + QStringLiteral("Changed"));

    QSignalSpy spy(row.get(), prop.notifySignal());
    const QVariant initial = prop.read(row.get());
    QVERIFY(prop.write(row.get(), initial));
    QCOMPARE(spy.count(), 0);

    const QVariant changed = otherValue(initial, row.get());
    QVERIFY(changed.isValid());
    QVERIFY(prop.write(row.get(), changed));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(prop.read(row.get()), changed);

    QVERIFY(prop.write(row.get(), changed));
    QCOMPARE(spy.count(), 1);
}

void TestRowModels::defaultsAreInitialised()
{
    const ArtistDataModel artist;
    QCOMPARE(artist.artistid(), 0);
    QCOMPARE(artist.albumcount(), 0);
    QCOMPARE(artist.trackcount(), 0);
    QCOMPARE(artist.quality(), 0);
    QVERIFY(!artist.selected());
    QVERIFY(artist.visibility());
    QVERIFY(artist.coverart().isEmpty());
    const AlbumDataModel album;
    QCOMPARE(album.albumid(), 0);
    QVERIFY(!album.selected());
    QVERIFY(album.visibility());
    const TrackDataModel row;
    QCOMPARE(row.year(), 0);
    QVERIFY(row.tracklist().isEmpty());
    const TrackList track;
    QCOMPARE(track.duration(), 0);
    QVERIFY(!track.selected());
    const DetailedDataModel detail;
    QCOMPARE(detail.trackid(), 0);
    QVERIFY(detail.visibility());
    const VideoOptimisationModel video;
    QCOMPARE(video.status(), 0);
    QVERIFY(video.trackname().isEmpty());
}

void TestRowModels::fullConstructorsKeepTheirArguments()
{
    const QStringList covers = {QStringLiteral("/a.png"), QStringLiteral("qrc:///b.png")};
    const ArtistDataModel artist(70000, 3, 12, QStringLiteral("Ёлка"), 2, true, false, covers);
    QCOMPARE(artist.artistid(), 70000);
    QCOMPARE(artist.albumcount(), 3);
    QCOMPARE(artist.trackcount(), 12);
    QCOMPARE(artist.artistname(), QStringLiteral("Ёлка"));
    QCOMPARE(artist.quality(), 2);
    QVERIFY(artist.selected());
    QVERIFY(!artist.visibility());
    QCOMPARE(artist.coverart(), covers);

    const AlbumDataModel album(40000, QStringLiteral("Blue"), QStringLiteral("Joni"), 1, true, false,
                               QStringLiteral("/c.png"));
    QCOMPARE(album.albumid(), 40000);
    QCOMPARE(album.albumname(), QStringLiteral("Blue"));
    QCOMPARE(album.artistname(), QStringLiteral("Joni"));
    QCOMPARE(album.quality(), 1);
    QVERIFY(album.selected());
    QVERIFY(!album.visibility());
    QCOMPARE(album.coverart(), QStringLiteral("/c.png"));

    TrackList first;
    const QList<QObject *> tracks = {&first};
    const TrackDataModel row(5, QStringLiteral("Album"), QStringLiteral("Artist"), QStringLiteral("Jazz"), 1971, true,
                             true, QStringLiteral("no"), tracks);
    QCOMPARE(row.albumid(), 5);
    QCOMPARE(row.albumname(), QStringLiteral("Album"));
    QCOMPARE(row.artistname(), QStringLiteral("Artist"));
    QCOMPARE(row.genre(), QStringLiteral("Jazz"));
    QCOMPARE(row.year(), 1971);
    QVERIFY(row.selected());
    QVERIFY(row.visibility());
    QCOMPARE(row.coverart(), QStringLiteral("no"));
    QCOMPARE(row.tracklist(), tracks);

    const TrackList track(9, 4, 40000, QStringLiteral("Title"), QStringLiteral("1971"), QStringLiteral("Artist"),
                          QStringLiteral("Album"), QStringLiteral("Jazz"), true, QStringLiteral("/m/t.mp3"));
    QCOMPARE(track.trackid(), 9);
    QCOMPARE(track.trackno(), 4);
    QCOMPARE(track.duration(), 40000);
    QCOMPARE(track.tracktitle(), QStringLiteral("Title"));
    QCOMPARE(track.releasedate(), QStringLiteral("1971"));
    QCOMPARE(track.artistname(), QStringLiteral("Artist"));
    QCOMPARE(track.albumname(), QStringLiteral("Album"));
    QCOMPARE(track.genre(), QStringLiteral("Jazz"));
    QVERIFY(track.selected());
    QCOMPARE(track.track_path(), QStringLiteral("/m/t.mp3"));

    const DetailedDataModel detail(true, false, 33000, 2001, QStringLiteral("T"), QStringLiteral("Al"),
                                   QStringLiteral("Ar"), QStringLiteral("G"));
    QVERIFY(detail.selected());
    QVERIFY(!detail.visibility());
    QCOMPARE(detail.trackid(), 33000);
    QCOMPARE(detail.year(), 2001);
    QCOMPARE(detail.tracktitle(), QStringLiteral("T"));
    QCOMPARE(detail.albumname(), QStringLiteral("Al"));
    QCOMPARE(detail.artistname(), QStringLiteral("Ar"));
    QCOMPARE(detail.genre(), QStringLiteral("G"));

    const VideoOptimisationModel video(7, 36000, 0, QStringLiteral("clip.mp4"));
    QCOMPARE(video.trackid(), 7);
    QCOMPARE(video.duration(), 36000);
    QCOMPARE(video.status(), 0);
    QCOMPARE(video.trackname(), QStringLiteral("clip.mp4"));
}

void TestRowModels::artistCoverArtAddsInsteadOfReplacing()
{
    ArtistDataModel artist(1, 1, 1, QStringLiteral("A"), 0, false, true, {QStringLiteral("/one.png")});
    QSignalSpy spy(&artist, &ArtistDataModel::coverartChanged);

    artist.setCoverArt({});
    QCOMPARE(spy.count(), 0);
    QCOMPARE(artist.coverart(), QStringList{QStringLiteral("/one.png")});

    artist.setCoverArt({QStringLiteral("/one.png"), QStringLiteral("/two.png")});
    QCOMPARE(spy.count(), 0);
    QCOMPARE(artist.coverart(), QStringList{QStringLiteral("/one.png")});

    artist.setCoverArt({QStringLiteral("/ONE.png")}); // case-sensitive: a new entry
    QCOMPARE(spy.count(), 1);

    artist.setCoverArt({QStringLiteral("/three.png"), QStringLiteral("/one.png")});
    QCOMPARE(spy.count(), 2);
    QCOMPARE(artist.coverart(), (QStringList{QStringLiteral("/one.png"), QStringLiteral("/ONE.png"),
                                             QStringLiteral("/three.png"), QStringLiteral("/one.png")}));
}

void TestRowModels::trackListComparesElementByElement()
{
    TrackList a;
    TrackList b;
    TrackDataModel row;
    QSignalSpy spy(&row, &TrackDataModel::tracklistChanged);
    row.setTrackList({&a, &b});
    QCOMPARE(spy.count(), 1);
    row.setTrackList({&a, &b});
    QCOMPARE(spy.count(), 1);
    row.setTrackList({&b, &a});
    QCOMPARE(spy.count(), 2);
    row.setTrackList({});
    QCOMPARE(spy.count(), 3);
    row.setTrackList({});
    QCOMPARE(spy.count(), 3);
}

void TestRowModels::qmlWritesSelectedThroughAContextList()
{
    AlbumDataModel first(1, QStringLiteral("Blue"), QStringLiteral("Joni"), 1, false, true, QStringLiteral("a.png"));
    AlbumDataModel second(2, QStringLiteral("Red"), QStringLiteral("King"), 2, true, true, QStringLiteral("b.png"));
    QSignalSpy firstSpy(&first, &AlbumDataModel::selectedChanged);
    QSignalSpy secondSpy(&second, &AlbumDataModel::selectedChanged);

    QQmlEngine engine;
    engine.rootContext()->setContextProperty(QStringLiteral("albumsModel"),
                                             QVariant::fromValue(QList<QObject *>{&first, &second}));
    QQmlComponent component(&engine);
    component.setData(R"(
import QtQuick
QtObject {
    property int count: albumsModel.length
    property bool secondWas: albumsModel[1].selected
    property string firstName: albumsModel[0].albumname
    function tick() {
        albumsModel[0].selected = true
        albumsModel[0].selected = true  // same value again
        albumsModel[1].selected = true  // unchanged
        return albumsModel[0].selected
    }
})",
                      QUrl());
    std::unique_ptr<QObject> object(component.create());
    QVERIFY2(object, qPrintable(component.errorString()));
    QCOMPARE(object->property("count").toInt(), 2);
    QVERIFY(object->property("secondWas").toBool());
    QCOMPARE(object->property("firstName").toString(), QStringLiteral("Blue"));

    QVariant result;
    QVERIFY(QMetaObject::invokeMethod(object.get(), "tick", Q_RETURN_ARG(QVariant, result)));
    QVERIFY(result.toBool());
    QVERIFY(first.selected());
    QCOMPARE(firstSpy.count(), 1);
    QCOMPARE(secondSpy.count(), 0);

    // A change made in C++ reaches a QML binding through the notify signal.
    QQmlComponent watcher(&engine);
    watcher.setData("import QtQuick\nQtObject { property bool shown: albumsModel[0].selected }", QUrl());
    std::unique_ptr<QObject> bound(watcher.create());
    QVERIFY2(bound, qPrintable(watcher.errorString()));
    QVERIFY(bound->property("shown").toBool());
    first.setSelected(false);
    QVERIFY(!bound->property("shown").toBool());
}

CORVANE_TEST_MAIN(TestRowModels)
#include "tst_rowmodels.moc"
