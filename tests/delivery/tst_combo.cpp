#include <QtTest>

#include <QQmlComponent>
#include <QQmlEngine>

#include "database/ruvodb.h"
#include "delivery/combo.h"
#include "delivery/transferdetail.h"
#include "libraryfixture.h"
#include "testenv.h"

namespace {

const QStringList shippedModels = {"Select", "Aster", "Birch", "Cedar", "Dune", "Ember", "Fjord", "Grove"};
const QStringList allYears = {"Select", "2011", "2012", "2013", "2014"};

QStringList namesOf(const QList<Details> &list, QString Details::*field = &Details::name)
{
    QStringList out;
    for (const Details &d : list)
        out << d.*field;
    return out;
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
    void init()
    {
        Combo::setResourcePaths(Combo::defaultVehiclesPath(), Combo::defaultSystemsPath());
        Combo().fillModelCombo();
        *Combo().getsystemDetail() = SystemDetails();
        testkit::clearSettings();
    }

    void cleanupTestCase() { init(); }

    void yearList_data()
    {
        QTest::addColumn<QByteArray>("vehicles"); // empty: the shipped list
        QTest::addColumn<QString>("model");
        QTest::addColumn<QStringList>("years");
        QTest::addRow("shipped range, both ends included") << QByteArray() << "Grove" << allYears;
        for (const char *unknown : {"Zeppelin", "Select", "aster"})
            QTest::addRow("%s has no years", unknown) << QByteArray() << unknown << QStringList{"Select"};
        QTest::addRow("overlapping ranges list each year once")
            << QByteArray("<Brand><Vehicle model=\"Aster\"><Range from=\"2011\" to=\"2013\"/>"
                          "<Range from=\"2012\" to=\"2014\"/></Vehicle></Brand>")
            << "Aster" << allYears;
    }

    void yearList()
    {
        QFETCH(QByteArray, vehicles);
        QTemporaryDir dir;
        if (!vehicles.isEmpty()) {
            QVERIFY(testkit::touch(dir.filePath("vehicles.xml"), vehicles));
            Combo::setResourcePaths(dir.filePath("vehicles.xml"), Combo::defaultSystemsPath());
        }
        QFETCH(QString, model);
        QTEST(Combo().fillYearCombo(model), "years");
    }

    void modelList()
    {
        Combo combo;
        QCOMPARE(combo.fillModelCombo(), shippedModels); // init() filled it once already: no duplicates
        QCOMPARE(Combo().getModelList(), shippedModels); // shared by every Combo
    }

    void shippedProfiles_data()
    {
        QTest::addColumn<QString>("vehicle");
        QTest::addColumn<QString>("profile"); // system, codec, extension, video codec
        QTest::addColumn<QStringList>("audioCodecs");
        QTest::addColumn<QStringList>("playlists");
        const QStringList wma = {"mp3", "wmav1", "wmav2", "wmapro", "wmavoice"};
        QTest::addRow("first vehicle, profile 1")
            << "Aster" << "System A|aac|m4a|" << QStringList{"aac", "mp3"} + wma.mid(1) + QStringList{"pcm_s16le"}
            << QStringList{"m3u", "pls", "wpl"};
        QTest::addRow("second vehicle, profile 3")
            << "Birch" << "System C|wmav2|wma|h264 160000" << wma << QStringList();
        QTest::addRow("last vehicle, profile 2") << "Grove" << "System B|wmav2|wma|" << wma << QStringList();
    }

    void shippedProfiles()
    {
        QFETCH(QString, vehicle);
        QFETCH(QStringList, playlists);
        Combo combo;
        combo.readSystemDetails(vehicle);
        const SystemDetails &p = *combo.getsystemDetail();
        QString video;
        for (const auto &d : p.videoCodecs)
            video += d.name + ' ' + QString::number(d.bitrate);
        QTEST(QStringList({p.name, p.codec, p.audioExtension, video}).join('|'), "profile");
        QCOMPARE(p.videoSupported, !video.isEmpty());
        QCOMPARE(p.vehicleName, vehicle);
        QCOMPARE(p.bitrate, 320000);
        QTEST(namesOf(p.audioCodecs), "audioCodecs");
        QCOMPARE(p.filingSystem + ' ' + QString::number(p.filingSystems.size()), QStringLiteral("MS-DOS FAT32 2"));
        QCOMPARE(p.filingSystems.at(1).maxFilesPerFolder, 1000u);
        QCOMPARE(p.playlistsSupported, !playlists.isEmpty());
        QCOMPARE(namesOf(p.playlists, &Details::extension), playlists);
    }

    void profileIsResetAndJobsKeepTheirCopy()
    {
        Combo combo;
        combo.readSystemDetails("Aster");
        transferDetail job;
        job.system = *combo.getsystemDetail();
        combo.readSystemDetails("Cedar");
        const SystemDetails &p = *combo.getsystemDetail();
        // Not the union of both systems; the job's copy is still the first.
        QCOMPARE(QList<qsizetype>({p.audioCodecs.size(), p.albumArtFormats.size(), p.playlists.size()}),
                 QList<qsizetype>({5, 1, 0}));
        QCOMPARE(job.system.codec + ' ' + QString::number(job.system.audioCodecs.size()), QStringLiteral("aac 7"));
        // An unknown vehicle or "Select" leaves the profile as it is.
        combo.readSystemDetails("Zeppelin");
        combo.readSystemDetails("Select");
        QCOMPARE(p.vehicleName, QStringLiteral("Cedar"));
    }

    void malformedResourceGivesEmptyProfile()
    {
        QTemporaryDir dir;
        QVERIFY(testkit::touch(dir.filePath("broken.xml"), "<Brand><System name=\"System A\"><Audio <<<"));
        Combo combo;
        combo.readSystemDetails("Aster");
        Combo::setResourcePaths(Combo::defaultVehiclesPath(), dir.filePath("broken.xml"));
        combo.readSystemDetails("Birch");
        QVERIFY(combo.getsystemDetail()->name.isEmpty() && combo.getsystemDetail()->audioCodecs.isEmpty());

        Combo::setResourcePaths(dir.filePath("missing.xml"), dir.filePath("missing.xml"));
        QCOMPARE(combo.fillModelCombo(), QStringList{"Select"});
    }

    void savingAndRestoringTheChoice()
    {
        Combo combo;
        QSignalSpy restored(&combo, &Combo::getSettings);
        combo.slSaveSettingModelIndex(2, "Select", "2012", 2);
        QVERIFY(testkit::savedVehicle().isEmpty());
        combo.runForGetSettaing();
        QCOMPARE(restored.takeFirst().at(0).toInt(), 0);

        combo.slSaveSettingModelIndex(2, "Birch", "2014", 4);
        QCOMPARE(testkit::savedVehicle(), (QVariantMap{{"Model", 2}, {"ModelName", "Birch"}, {"ModelYearIndex", 4},
                                                       {"ModelYearValue", "2014"}}));
        QVERIFY(combo.getsystemDetail()->name.isEmpty()); // saving doesn't load the profile
        combo.runForGetSettaing();
        QCOMPARE(restored.takeFirst().at(0).toInt(), 2);
        QCOMPARE(combo.getsystemDetail()->name, QStringLiteral("System C"));
    }

    void checkMediaLibrary()
    {
        Combo combo;
        QSignalSpy start(&combo, &Combo::sgShowStartPage);
        QSignalSpy library(&combo, &Combo::sgShowMediaLibrary);
        combo.slCheckMediaLibrary("Aster", "2012", 0); // no library file yet
        QCOMPARE(start.value(0).value(0).toString(), QStringLiteral("Aster"));
        QCOMPARE(combo.getsystemDetail()->name, QStringLiteral("System A"));

        QVERIFY(testkit::openLibrary());
        combo.slCheckMediaLibrary("Cedar", "2012", 0); // an empty library is no library
        QCOMPARE(start.size(), 2);
        QVERIFY(testkit::exec("INSERT INTO albums(name,artist_id,cover,year) VALUES ('Blue',1,'',2001)"));
        combo.slCheckMediaLibrary("Cedar", "2012", 0);
        QCOMPARE(library.size(), 1);
        QCOMPARE(library.first().first().toString(), QStringLiteral("Cedar"));
    }

    void qmlLinks()
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

        // Asking for a model's years answers with its year list.
        QVERIFY(QMetaObject::invokeMethod(root.get(), "fillYearCombo", Q_ARG(QString, "Dune")));
        QCOMPARE(root->property("years").toStringList(), allYears);
        // Checking the library, then the start page or the library view by whether one exists.
        QVERIFY(QMetaObject::invokeMethod(root.get(), "sgCheckMediaLibrary", Q_ARG(QString, "Ember"),
                                          Q_ARG(QString, "2013"), Q_ARG(int, 0)));
        QCOMPARE(root->property(ruvoDB::isDB() ? "viewPanel" : "startPage").toString(), QStringLiteral("Ember"));
        emit combo.sgShowStartPage(QVariant(QStringLiteral("Dune")));
        QCOMPARE(root->property("startPage").toString(), QStringLiteral("Dune"));
        emit combo.sgShowMediaLibrary(QVariant(QStringLiteral("Fjord")));
        QCOMPARE(root->property("viewPanel").toString(), QStringLiteral("Fjord"));
        // The drive list.
        emit drives.showDrivesData(QVariant(QStringList{"/media/usb"}));
        QCOMPARE(root->property("drives").toStringList(), QStringList{"/media/usb"});
        // Saving the choice, then restoring it, tells QML the position.
        QVERIFY(QMetaObject::invokeMethod(root.get(), "sgSaveSettingModelIndex", Q_ARG(int, 5), Q_ARG(QString, "Ember"),
                                          Q_ARG(QString, "2013"), Q_ARG(int, 3)));
        QCOMPARE(testkit::savedVehicle().value("ModelName").toString(), QStringLiteral("Ember"));
        combo.runForGetSettaing();
        QCOMPARE(root->property("modelIndex").toInt(), 5);
    }
};

CORVANE_TEST_MAIN(TestCombo)
#include "tst_combo.moc"
