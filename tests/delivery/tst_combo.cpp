#include <QtTest>

#include <QQmlComponent>
#include <QQmlEngine>
#include <QSettings>
#include <QSqlQuery>
#include <QTemporaryDir>

#include "database/connection.h"
#include "database/database.h"
#include "database/ruvodb.h"
#include "delivery/combo.h"
#include "delivery/transferdetail.h"
#include "testenv.h"

namespace {

const QStringList shippedModels = {"Select", "Aster", "Birch", "Cedar", "Dune", "Ember", "Fjord", "Grove"};
const QStringList allYears = {"Select", "2011", "2012", "2013", "2014"};

QStringList names(const QList<Details> &list)
{
    QStringList out;
    for (const Details &d : list)
        out << d.name;
    return out;
}

QVariant savedChoice(const QString &key)
{
    QSettings settings(QStringLiteral("MyComp"), QStringLiteral("MyApp"));
    return settings.value(QStringLiteral("MainWindows/") + key);
}

void clearSettings()
{
    QSettings settings(QStringLiteral("MyComp"), QStringLiteral("MyApp"));
    settings.clear();
}

// Stands in for the transfer dialog, the sender of the drive list.
class FakeDrives : public QObject
{
    Q_OBJECT
signals:
    void showDrivesData(QVariant driveData);
};

// The vehicle part of the QML root object's contract.
const char rootQml[] = R"(
import QtQuick
Item {
    signal fillYearCombo(string modelName)
    signal sgCheckMediaLibrary(string vehicleName, string modelYear, int size)
    signal sgSaveSettingModelIndex(int index, string selectedModel, string modelYearValue, int yearIndex)
    property var years: []
    property string startPage: ""
    property string viewPanel: ""
    property var drives: []
    property int modelIndex: -1
    function updateYearCombo(list) { years = list }
    function showStartPage(name) { startPage = name }
    function showViewPanel(name) { viewPanel = name }
    function updateDrivesData(list) { drives = list }
    function setIndexForModelCombo(index) { modelIndex = index }
}
)";

} // namespace

class TestCombo : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void modelListIsSelectPlusSevenModels();
    void yearLists_data();
    void yearLists();
    void yearRanges_data();
    void yearRanges();
    void shippedProfiles_data();
    void shippedProfiles();
    void switchingVehicleReplacesProfile();
    void unknownVehicleLoadsNothing();
    void malformedResourceGivesEmptyProfile();
    void jobKeepsItsOwnProfile();
    void savingChoice();
    void restoringChoice();
    void checkMediaLibrary();
    void qmlLinks();

private:
    QTemporaryDir m_dir;
    QString writeFile(const QString &name, const QByteArray &content);
};

QString TestCombo::writeFile(const QString &name, const QByteArray &content)
{
    const QString path = m_dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    file.write(content);
    return path;
}

void TestCombo::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

void TestCombo::init()
{
    Combo::setResourcePaths(Combo::defaultVehiclesPath(), Combo::defaultSystemsPath());
    Combo().fillModelCombo();
    *Combo().getsystemDetail() = SystemDetails();
    clearSettings();
}

void TestCombo::cleanupTestCase()
{
    Combo::setResourcePaths(Combo::defaultVehiclesPath(), Combo::defaultSystemsPath());
}

void TestCombo::modelListIsSelectPlusSevenModels()
{
    Combo combo;
    QCOMPARE(combo.fillModelCombo(), shippedModels);
    QCOMPARE(combo.fillModelCombo(), shippedModels);  // a second call doesn't duplicate
    QCOMPARE(combo.getModelList(), shippedModels);
    QCOMPARE(Combo().getModelList(), shippedModels);  // shared by every Combo
}

void TestCombo::yearLists_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QStringList>("years");
    QTest::addRow("first model") << "Aster" << allYears;
    QTest::addRow("last model") << "Grove" << allYears;
    QTest::addRow("unknown model") << "Zeppelin" << QStringList{"Select"};
    QTest::addRow("Select") << "Select" << QStringList{"Select"};
    QTest::addRow("case differs") << "aster" << QStringList{"Select"};
    QTest::addRow("system name is no vehicle") << "System A" << QStringList{"Select"};
}

void TestCombo::yearLists()
{
    QFETCH(QString, model);
    QFETCH(QStringList, years);
    QCOMPARE(Combo().fillYearCombo(model), years);
}

void TestCombo::yearRanges_data()
{
    QTest::addColumn<QByteArray>("ranges");
    QTest::addColumn<QStringList>("years");
    QTest::addRow("overlapping ranges add each year once")
        << QByteArray("<Range from=\"2010\" to=\"2012\"/><Range from=\"2011\" to=\"2013\"/>")
        << QStringList{"Select", "2010", "2011", "2012", "2013"};
    QTest::addRow("from above to adds nothing") << QByteArray("<Range from=\"2014\" to=\"2011\"/>")
                                                << QStringList{"Select"};
    QTest::addRow("empty from and to add one empty entry") << QByteArray("<Range from=\"\" to=\"\"/>")
                                                           << QStringList{"Select", ""};
}

void TestCombo::yearRanges()
{
    QFETCH(QByteArray, ranges);
    QFETCH(QStringList, years);
    const QString path = writeFile("ranges.xml", "<Brand><Vehicle model=\"Test\">" + ranges
                                                     + "<Url link=\"https://x.example/t\"/></Vehicle>"
                                                       "<Vehicle model=\"Other\"><Range from=\"1990\" to=\"1991\"/>"
                                                       "</Vehicle></Brand>");
    Combo::setResourcePaths(path, Combo::defaultSystemsPath());
    QCOMPARE(Combo().fillYearCombo("Test"), years);
    QCOMPARE(Combo::carLink(), QStringLiteral("https://x.example/t"));
}

void TestCombo::shippedProfiles_data()
{
    QTest::addColumn<QString>("vehicle");
    QTest::addColumn<QString>("system");
    QTest::addColumn<bool>("albumArt");
    QTest::addColumn<QString>("codec");
    QTest::addColumn<QString>("audioExtension");
    QTest::addColumn<QStringList>("audioCodecs");
    QTest::addColumn<bool>("video");
    QTest::addColumn<int>("videoCodecs");
    QTest::addColumn<bool>("playlists");
    QTest::addColumn<QStringList>("playlistExtensions");

    const QStringList full = {"aac", "mp3", "wmav1", "wmav2", "wmapro", "wmavoice", "pcm_s16le"};
    const QStringList wma = {"mp3", "wmav1", "wmav2", "wmapro", "wmavoice"};
    QTest::addRow("first vehicle, profile 1") << "Aster" << "System A" << true << "aac" << "m4a" << full << false
                                              << 0 << true << QStringList{"m3u", "pls", "wpl"};
    QTest::addRow("second vehicle, profile 3 with video") << "Birch" << "System C" << true << "wmav2" << "wma"
                                                          << wma << true << 1 << false << QStringList();
    QTest::addRow("third vehicle, profile 2") << "Cedar" << "System B" << false << "wmav2" << "wma" << wma
                                              << false << 0 << false << QStringList();
    QTest::addRow("last vehicle, profile 2") << "Grove" << "System B" << false << "wmav2" << "wma" << wma << false
                                             << 0 << false << QStringList();
}

void TestCombo::shippedProfiles()
{
    QFETCH(QString, vehicle);
    QFETCH(QString, system);
    QFETCH(bool, albumArt);
    QFETCH(QString, codec);
    QFETCH(QString, audioExtension);
    QFETCH(QStringList, audioCodecs);
    QFETCH(bool, video);
    QFETCH(int, videoCodecs);
    QFETCH(bool, playlists);
    QFETCH(QStringList, playlistExtensions);

    Combo combo;
    combo.readSystemDetails(vehicle);
    const SystemDetails &p = *combo.getsystemDetail();
    QCOMPARE(p.name, system);
    QCOMPARE(p.vehicleName, vehicle);
    QCOMPARE(p.albumArtSupported, albumArt);
    QCOMPARE(p.sizeX, albumArt ? 800 : 0);
    QCOMPARE(p.albumArtFormats.size(), albumArt ? 3 : 1);
    QCOMPARE(p.codec, codec);
    QCOMPARE(p.audioExtension, audioExtension);
    QCOMPARE(p.bitrate, 320000);
    QCOMPARE(p.maxSamplingFrequency, 44100);
    QCOMPARE(names(p.audioCodecs), audioCodecs);
    QCOMPARE(p.audioCodecs.first().extension, audioCodecs.first() == "aac" ? QString("m4a,m4b,mp4,aac")
                                                                           : QString("mp3"));
    QCOMPARE(p.videoSupported, video);
    QCOMPARE(p.videoCodecs.size(), videoCodecs);
    if (video) {
        const VideoCodecDetails &v = p.videoCodecs.first();
        QCOMPARE(v.name, QStringLiteral("h264"));
        QCOMPARE(v.extension, QStringLiteral("mp4"));
        QCOMPARE(v.profile, QStringLiteral("main"));
        QCOMPARE(v.level, 2u);
        QCOMPARE(v.width, 0u);
        QCOMPARE(v.acodec, QStringLiteral("aac"));
        QCOMPARE(v.bitrate, 160000);
    }
    QCOMPARE(p.filingSystem, QStringLiteral("MS-DOS FAT32"));
    QCOMPARE(p.filingSystems.size(), 2);
    QCOMPARE(p.filingSystems.at(0).name, QStringLiteral("MS-DOS FAT16"));
    QCOMPARE(p.filingSystems.at(1).maxFiles, 4000);
    QCOMPARE(p.filingSystems.at(1).maxFilesPerFolder, 1000u);
    QCOMPARE(p.filingSystems.at(1).maxFileSize, 0u);
    QCOMPARE(p.playlistsSupported, playlists);
    QStringList extensions;
    for (const Details &d : p.playlists)
        extensions << d.extension;
    QCOMPARE(extensions, playlistExtensions);
}

void TestCombo::switchingVehicleReplacesProfile()
{
    Combo combo;
    combo.readSystemDetails("Aster");
    QCOMPARE(combo.getsystemDetail()->audioCodecs.size(), 7);
    QCOMPARE(combo.getsystemDetail()->playlists.size(), 3);
    combo.readSystemDetails("Cedar");
    const SystemDetails &p = *combo.getsystemDetail();
    QCOMPARE(p.codec, QStringLiteral("wmav2"));
    QCOMPARE(p.audioCodecs.size(), 5);  // not the union of both systems
    QCOMPARE(p.albumArtFormats.size(), 1);
    QCOMPARE(p.filingSystems.size(), 2);
    QVERIFY(p.playlists.isEmpty());
    QVERIFY(!p.playlistsSupported);
    QCOMPARE(p.vehicleName, QStringLiteral("Cedar"));
}

void TestCombo::unknownVehicleLoadsNothing()
{
    Combo combo;
    combo.readSystemDetails("Aster");
    combo.readSystemDetails("Zeppelin");
    combo.readSystemDetails("Select");
    QCOMPARE(combo.getsystemDetail()->vehicleName, QStringLiteral("Aster"));
    QCOMPARE(combo.getsystemDetail()->audioCodecs.size(), 7);
}

void TestCombo::malformedResourceGivesEmptyProfile()
{
    Combo combo;
    combo.readSystemDetails("Aster");
    const QString broken = writeFile("broken.xml", "<Brand><System name=\"System A\"><Audio codec=\"aac\" <<<");
    Combo::setResourcePaths(Combo::defaultVehiclesPath(), broken);
    combo.readSystemDetails("Birch");
    const SystemDetails &p = *combo.getsystemDetail();
    QVERIFY(p.name.isEmpty());
    QVERIFY(p.codec.isEmpty());
    QVERIFY(p.audioCodecs.isEmpty());
    QVERIFY(!p.videoSupported);

    Combo::setResourcePaths(m_dir.filePath("missing.xml"), m_dir.filePath("missing.xml"));
    QTest::ignoreMessage(QtDebugMsg, "Load XML File Problem.");
    QCOMPARE(combo.fillModelCombo(), QStringList{"Select"});
}

void TestCombo::jobKeepsItsOwnProfile()
{
    Combo combo;
    combo.readSystemDetails("Aster");
    transferDetail job;
    job.system = *combo.getsystemDetail();
    transferDetail copy = job;
    combo.readSystemDetails("Cedar");
    QCOMPARE(job.system.codec, QStringLiteral("aac"));
    QCOMPARE(copy.system.audioCodecs.size(), 7);
    QCOMPARE(combo.getsystemDetail()->codec, QStringLiteral("wmav2"));
}

void TestCombo::savingChoice()
{
    Combo combo;
    combo.slSaveSettingModelIndex(2, "Select", "2012", 2);
    QSettings settings(QStringLiteral("MyComp"), QStringLiteral("MyApp"));
    QVERIFY(settings.allKeys().isEmpty());

    combo.slSaveSettingModelIndex(3, "Cedar", "2013", 3);
    QCOMPARE(savedChoice("Model").toInt(), 3);
    QCOMPARE(savedChoice("ModelName").toString(), QStringLiteral("Cedar"));
    QCOMPARE(savedChoice("ModelYearValue").toString(), QStringLiteral("2013"));
    QCOMPARE(savedChoice("ModelYearIndex").toInt(), 3);
    QVERIFY(combo.getsystemDetail()->name.isEmpty());  // saving doesn't load the profile
}

void TestCombo::restoringChoice()
{
    Combo combo;
    QSignalSpy spy(&combo, &Combo::getSettings);
    combo.runForGetSettaing();
    QCOMPARE(spy.size(), 1);
    QCOMPARE(spy.at(0).at(0).toInt(), 0);
    QVERIFY(combo.getsystemDetail()->name.isEmpty());

    combo.slSaveSettingModelIndex(2, "Birch", "2014", 4);
    combo.runForGetSettaing();
    QCOMPARE(spy.size(), 2);
    QCOMPARE(spy.at(1).at(0).toInt(), 2);
    QCOMPARE(combo.getsystemDetail()->name, QStringLiteral("System C"));
}

void TestCombo::checkMediaLibrary()
{
    Combo combo;
    QSignalSpy start(&combo, &Combo::sgShowStartPage);
    QSignalSpy library(&combo, &Combo::sgShowMediaLibrary);

    // No library file yet.
    combo.slCheckMediaLibrary("Aster", "2012", 0);
    QCOMPARE(start.size(), 1);
    QCOMPARE(start.at(0).at(0).toString(), QStringLiteral("Aster"));
    QCOMPARE(combo.getsystemDetail()->name, QStringLiteral("System A"));
    combo.slCheckMediaLibrary("Aster", "2012", 1);
    QCOMPARE(library.size(), 1);

    Database db;
    QVERIFY(db.connect("RuvoData", true));
    db.create();
    combo.slCheckMediaLibrary("Cedar", "2012", 0);  // an empty library is no library
    QCOMPARE(start.size(), 2);
    QSqlQuery query(Connection::forThread());
    QVERIFY(query.exec("INSERT INTO albums(name,artist_id,cover,year) VALUES ('Blue',1,'',2001)"));
    combo.slCheckMediaLibrary("Cedar", "2012", 0);
    QCOMPARE(library.size(), 2);
    QCOMPARE(library.at(1).at(0).toString(), QStringLiteral("Cedar"));
    QCOMPARE(start.size(), 2);
}

void TestCombo::qmlLinks()
{
    QQmlEngine engine;
    QQmlComponent component(&engine);
    component.setData(rootQml, QUrl());
    std::unique_ptr<QObject> root(component.create());
    QVERIFY2(root, qPrintable(component.errorString()));

    FakeDrives drives;
    Combo::setDriveListSender(&drives);
    QTest::failOnWarning(QRegularExpression(QStringLiteral("QObject::connect")));
    Combo combo(root.get());
    Combo::setDriveListSender(nullptr);

    // V1 and V2: asking for a model's years answers with its year list.
    QVERIFY(QMetaObject::invokeMethod(root.get(), "fillYearCombo", Q_ARG(QString, "Dune")));
    QCOMPARE(root->property("years").toStringList(), allYears);
    // V3 and V4 (or V5 when an earlier test left a library).
    QVERIFY(QMetaObject::invokeMethod(root.get(), "sgCheckMediaLibrary", Q_ARG(QString, "Ember"),
                                      Q_ARG(QString, "2013"), Q_ARG(int, 0)));
    QCOMPARE(root->property(ruvoDB::isDB() ? "viewPanel" : "startPage").toString(), QStringLiteral("Ember"));
    QCOMPARE(Combo().getsystemDetail()->vehicleName, QStringLiteral("Ember"));
    emit combo.sgShowStartPage(QVariant(QStringLiteral("Dune")));
    QCOMPARE(root->property("startPage").toString(), QStringLiteral("Dune"));
    // V5: the library view.
    emit combo.sgShowMediaLibrary(QVariant(QStringLiteral("Fjord")));
    QCOMPARE(root->property("viewPanel").toString(), QStringLiteral("Fjord"));
    // V6: the drive list.
    emit drives.showDrivesData(QVariant(QStringList{"/media/usb"}));
    QCOMPARE(root->property("drives").toStringList(), QStringList{"/media/usb"});
    // V7: saving the choice.
    QVERIFY(QMetaObject::invokeMethod(root.get(), "sgSaveSettingModelIndex", Q_ARG(int, 5), Q_ARG(QString, "Ember"),
                                      Q_ARG(QString, "2013"), Q_ARG(int, 3)));
    QCOMPARE(savedChoice("ModelName").toString(), QStringLiteral("Ember"));
    // V8: restoring it tells QML the position.
    combo.runForGetSettaing();
    QCOMPARE(root->property("modelIndex").toInt(), 5);
}

CORVANE_TEST_MAIN(TestCombo)
#include "tst_combo.moc"
