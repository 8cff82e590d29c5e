#include <QtTest>

#include <QQmlComponent>
#include <QQmlEngine>

#include "delivery/combo.h"
#include "libraryfixture.h"
#include "testenv.h"

namespace {

const QStringList allYears = {"Select", "2011", "2012", "2013", "2014"};

QString names(const QList<Details> &list, QString Details::*field = &Details::name)
{
    QStringList out;
    for (const Details &d : list)
        out << d.*field;
    return out.join(',');
}

// A profile on one line: system, vehicle, codec and extension, bit rate, filing
// system and files per folder, artwork formats, audio codecs, video codecs with
// their bit rate, playlist extensions.
QString summary(const SystemDetails &p)
{
    QStringList video;
    for (const auto &d : p.videoCodecs)
        video << d.name + ' ' + QString::number(d.bitrate);
    const quint32 perFolder = p.filingSystems.size() > 1 ? p.filingSystems.at(1).maxFilesPerFolder : 0;
    return QStringList{p.name, p.vehicleName, p.codec + ' ' + p.audioExtension, QString::number(p.bitrate),
                       p.filingSystem + ' ' + QString::number(perFolder), names(p.albumArtFormats),
                       names(p.audioCodecs), video.join(','), names(p.playlists, &Details::extension)}
        .join('|');
}

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
    property int modelIndex: -1
    function updateYearCombo(list) { years = list }
    function showStartPage(name) { startPage = name }
    function showViewPanel(name) { viewPanel = name }
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

    void yearList_data()
    {
        QTest::addColumn<QByteArray>("vehicles"); // empty: the shipped list
        QTest::addColumn<QString>("model");
        QTest::addColumn<QStringList>("years");
        QTest::addRow("shipped range, both ends included") << QByteArray() << "Grove" << allYears;
        QTest::addRow("an unknown model has no years") << QByteArray() << "Zeppelin" << QStringList{"Select"};
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

    void profiles_data()
    {
        QTest::addColumn<QString>("vehicle");
        QTest::addColumn<QString>("profile");
        const QString wma = "mp3,wmav1,wmav2,wmapro,wmavoice";
        const QString fat = "|320000|MS-DOS FAT32 1000|";
        QTest::addRow("first vehicle") << "Aster"
                                       << "System A|Aster|aac m4a" + fat + "gif,jpeg,png|aac," + wma
                                              + ",pcm_s16le||m3u,pls,wpl";
        QTest::addRow("second vehicle, with video") << "Birch"
                                                    << "System C|Birch|wmav2 wma" + fat + "gif,jpeg,png|" + wma
                                                           + "|h264 160000|";
    }

    void profiles()
    {
        QFETCH(QString, vehicle);
        Combo combo;
        QCOMPARE(combo.fillModelCombo(), // init() filled it once already: no duplicates
                 (QStringList{"Select", "Aster", "Birch", "Cedar", "Dune", "Ember", "Fjord", "Grove"}));
        // Each profile starts empty, not as the union with the one before.
        combo.readSystemDetails(vehicle == "Aster" ? "Birch" : "Aster");
        combo.readSystemDetails(vehicle);
        // An unknown vehicle or "Select" leaves the profile as it is.
        combo.readSystemDetails("Zeppelin");
        combo.readSystemDetails("Select");
        QTEST(summary(*combo.getsystemDetail()), "profile");
    }

    void qmlLinks()
    {
        QQmlEngine engine;
        QQmlComponent component(&engine);
        component.setData(rootQml, QUrl());
        std::unique_ptr<QObject> root(component.create());
        QVERIFY2(root, qPrintable(component.errorString()));
        QTest::failOnWarning(QRegularExpression(QStringLiteral("QObject::connect")));
        Combo combo(root.get());
        const auto check = [&root](QString vehicle) {
            return QMetaObject::invokeMethod(root.get(), "sgCheckMediaLibrary", Q_ARG(QString, vehicle),
                                             Q_ARG(QString, "2012"), Q_ARG(int, 0));
        };

        QVERIFY(QMetaObject::invokeMethod(root.get(), "fillYearCombo", Q_ARG(QString, "Dune")));
        QCOMPARE(root->property("years").toStringList(), allYears);

        // "Select" is never saved: restoring puts the chooser at its start.
        combo.slSaveSettingModelIndex(2, "Select", "2012", 2);
        combo.runForGetSettaing();
        QCOMPARE(root->property("modelIndex").toInt(), 0);
        QVERIFY(QMetaObject::invokeMethod(root.get(), "sgSaveSettingModelIndex", Q_ARG(int, 2), Q_ARG(QString, "Birch"),
                                          Q_ARG(QString, "2014"), Q_ARG(int, 4)));
        QCOMPARE(testkit::savedVehicle(), (QVariantMap{{"Model", 2}, {"ModelName", "Birch"}, {"ModelYearIndex", 4},
                                                       {"ModelYearValue", "2014"}}));
        combo.runForGetSettaing();
        QCOMPARE(root->property("modelIndex").toInt(), 2);
        QCOMPARE(combo.getsystemDetail()->name, QStringLiteral("System C"));

        // The start page until the library holds an album; the profile is loaded either way.
        QVERIFY(check("Aster"));
        QCOMPARE(root->property("startPage").toString(), QStringLiteral("Aster"));
        QCOMPARE(combo.getsystemDetail()->name, QStringLiteral("System A"));
        QVERIFY(testkit::openLibrary());
        QVERIFY(check("Cedar"));
        QCOMPARE(root->property("startPage").toString(), QStringLiteral("Cedar"));
        QVERIFY(testkit::exec("INSERT INTO albums(name,artist_id,cover,year) VALUES ('Blue',1,'',2001)"));
        QVERIFY(check("Ember"));
        QCOMPARE(root->property("viewPanel").toString(), QStringLiteral("Ember"));
    }
};

CORVANE_TEST_MAIN(TestCombo)
#include "tst_combo.moc"
