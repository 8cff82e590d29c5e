#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QSet>
#include <QtTest>

#include "app/messagehandler.h"
#include "testenv.h"

class TestMessageHandler : public QObject
{
    Q_OBJECT

private slots:
    void fortyFiveDistinctKeys();
    void keyedTexts_data();
    void keyedTexts();
    void sectionsPublishInOrder();
    void publishedIntoRootContext();
    void handlerWithoutContextPublishesNothing();
    void numberedMessages_data();
    void numberedMessages();
    void publishingHandlerCarriesNoMessages();
};

void TestMessageHandler::fortyFiveDistinctKeys()
{
    const QList<MessageHandler::KeyedText> texts = MessageHandler::allKeyedTexts();
    QCOMPARE(texts.size(), 45);
    QSet<QString> keys;
    for (const MessageHandler::KeyedText &text : texts) {
        QVERIFY2(!text.first.isEmpty(), "empty key");
        QVERIFY2(!text.second.isEmpty(), qPrintable(text.first));
        keys.insert(text.first);
    }
    QCOMPARE(keys.size(), 45);
}

void TestMessageHandler::keyedTexts_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("text");
    QTest::addRow("default vehicle prompt is the short one")
        << "MediaLibrary_txtSelectVehicledefault" << "Please select your vehicle";
    QTest::addRow("empty-library text under the other vehicle key")
        << "MediaLibrary_txtSelectVehicle" << "There are currently no files in your Media Library...";
    QTest::addRow("doubled space before 'your'")
        << "MediaLibrary_textoptimisingProgress" << "optimising files for  your corvane";
    QTest::addRow("doubled space and trailing space")
        << "MediaLibrary_MessageText1" << "There  are currently no files in your ";
    QTest::addRow("leading space and markup")
        << "MediaLibrary_MessageText2" << " Library.<br /> Click ADD MEDIA to open Media Browser.";
    QTest::addRow("two doubled spaces")
        << "AdvanceSetting_textOfMediaQuality"
        << "The  following files are of a lower quality than we would recommend for optimum in-car  audio "
           "experience select and download higher quality versions";
    QTest::addRow("trailing space after colon")
        << "VideoTranscoding_videoOptimisationTimeString3" << "Total for all current jobs: ";
    QTest::addRow("transfer text ends with a space")
        << "trnsfrtext1" << "All files have been successfully transferred to ";
    QTest::addRow("transfer text starts with a space") << "trnsfrtext2" << " Media.";
    QTest::addRow("video detail word") << "detailedView_txtVideoView" << "Unknown";
    QTest::addRow("misspelt synching kept") << "TransferandSync_txtSyncing" << "Synching";
    QTest::addRow("video progress notification")
        << "VideoTranscoding_progressNotification" << "CURRENTLY OPTIMISING";
    QTest::addRow("settings progress notification is the same")
        << "AdvanceSetting_progressNotification" << "CURRENTLY OPTIMISING";
    QTest::addRow("one second") << "VideoTranscoding_videoOptimisationTimeString1" << "1 Seconds";
}

void TestMessageHandler::keyedTexts()
{
    QFETCH(QString, key);
    QFETCH(QString, text);
    const QList<MessageHandler::KeyedText> texts = MessageHandler::allKeyedTexts();
    const auto found = std::find_if(texts.cbegin(), texts.cend(),
                                    [&key](const MessageHandler::KeyedText &entry) { return entry.first == key; });
    QVERIFY2(found != texts.cend(), qPrintable(key));
    QCOMPARE(found->second, text);
}

void TestMessageHandler::sectionsPublishInOrder()
{
    const QList<int> sizes = {int(MessageHandler::mediaLibraryTexts().size()),
                              int(MessageHandler::mediaBrowserTexts().size()),
                              int(MessageHandler::videoTranscodingTexts().size()),
                              int(MessageHandler::advanceSettingTexts().size()),
                              int(MessageHandler::transferandSyncTexts().size()),
                              int(MessageHandler::miscellaneousTexts().size())};
    QCOMPARE(sizes, (QList<int>{14, 4, 7, 4, 10, 6}));
    QCOMPARE(MessageHandler::allKeyedTexts().first().first, QStringLiteral("MediaLibrary_txtSelectVehicledefault"));
    QCOMPARE(MessageHandler::allKeyedTexts().last().first, QStringLiteral("trnsfrtext2"));
    // The feedback sample carries a coloured hashtag.
    const QString feedback = MessageHandler::mediaLibraryTexts().at(8).second;
    QCOMPARE(MessageHandler::mediaLibraryTexts().at(8).first, QStringLiteral("MediaLibrary_feedbackLink"));
    QVERIFY(feedback.contains(QLatin1String("<font color=")));
    QVERIFY(feedback.contains(QLatin1Char('#')));
}

void TestMessageHandler::publishedIntoRootContext()
{
    QQmlEngine engine;
    MessageHandler handler(engine.rootContext(), nullptr);
    handler.GetAllmsg();
    const QList<MessageHandler::KeyedText> texts = MessageHandler::allKeyedTexts();
    for (const MessageHandler::KeyedText &text : texts) {
        const QVariant value = engine.rootContext()->contextProperty(text.first);
        QVERIFY2(value.isValid(), qPrintable(text.first));
        QCOMPARE(value.metaType(), QMetaType::fromType<QString>());
        QCOMPARE(value.toString(), text.second);
    }

    // QML reads them as plain strings, spaces intact.
    QQmlComponent component(&engine);
    component.setData("import QtQuick\nQtObject { property string joined: MediaLibrary_MessageText1 + \"Music\" + "
                      "MediaLibrary_MessageText2 }",
                      QUrl());
    std::unique_ptr<QObject> object(component.create());
    QVERIFY2(object, qPrintable(component.errorString()));
    QCOMPARE(object->property("joined").toString(),
             QStringLiteral("There  are currently no files in your Music Library.<br /> Click ADD MEDIA to open "
                            "Media Browser."));
}

void TestMessageHandler::handlerWithoutContextPublishesNothing()
{
    MessageHandler handler;
    handler.GetAllmsg(); // no context: must not crash
    QCOMPARE(handler.message(1), QStringLiteral("Drive is Full"));
}

void TestMessageHandler::numberedMessages_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("text");
    QTest::addRow("1 drive full") << 1 << "Drive is Full";
    QTest::addRow("2 multichannel")
        << 2
        << "The selected video file is encoded with a multichannel audio. Multichannel audio is not supported by this "
           "program. The file has not been transferred.";
    QTest::addRow("3 invalid videos")
        << 3 << "One or more of the video files added contained incomplete or invalid data and will not be copied.";
    QTest::addRow("4 nothing to add") << 4 << "Please select at least one item to add in Media Library.";
    QTest::addRow("5 nothing to remove") << 5 << "Please select at least one item to remove.";
    QTest::addRow("6 nothing to transfer") << 6 << "Please select at least one item to transfer.";
    QTest::addRow("7 disk removed") << 7 << "Disk is Removed";
    QTest::addRow("8 no destination") << 8 << "No destination drive selected.";
    QTest::addRow("0 is no message") << 0 << "";
    QTest::addRow("9 is no message") << 9 << "";
    QTest::addRow("negative is no message") << -1 << "";
}

void TestMessageHandler::numberedMessages()
{
    QFETCH(int, number);
    QFETCH(QString, text);
    const MessageHandler handler;
    QCOMPARE(handler.message(number), text);
}

void TestMessageHandler::publishingHandlerCarriesNoMessages()
{
    QQmlEngine engine;
    const MessageHandler handler(engine.rootContext(), nullptr);
    for (int number = 1; number <= 8; ++number)
        QVERIFY(handler.message(number).isEmpty());
}

CORVANE_TEST_MAIN(TestMessageHandler)
#include "tst_messagehandler.moc"
