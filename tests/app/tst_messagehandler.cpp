#include <QQmlContext>
#include <QQmlEngine>
#include <QtTest>

#include "app/messagehandler.h"
#include "testenv.h"

class TestMessageHandler : public QObject
{
    Q_OBJECT

private slots:
    void keyedTexts_data();
    void keyedTexts();
    void publishedIntoRootContext();
    void numberedMessages();
};

// The texts easiest to get wrong: the two vehicle keys, and spaces that
// other texts are joined to.
void TestMessageHandler::keyedTexts_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("text");
    QTest::addRow("short prompt on the default key") << "MediaLibrary_txtSelectVehicledefault"
                                                     << "Please select your vehicle";
    QTest::addRow("empty-library text on the other key") << "MediaLibrary_txtSelectVehicle"
                                                         << "There are currently no files in your Media Library...";
    QTest::addRow("doubled space") << "MediaLibrary_textoptimisingProgress"
                                   << "optimising files for  your corvane";
    QTest::addRow("doubled and trailing space") << "MediaLibrary_MessageText1"
                                                << "There  are currently no files in your ";
    QTest::addRow("leading space") << "trnsfrtext2"
                                   << " Media.";
}

void TestMessageHandler::keyedTexts()
{
    QFETCH(QString, key);
    QFETCH(QString, text);
    const QList<MessageHandler::KeyedText> texts = MessageHandler::allKeyedTexts();
    QCOMPARE(int(std::count_if(texts.cbegin(), texts.cend(), [&](const auto &t) { return t.first == key; })), 1);
    QVERIFY(texts.contains(MessageHandler::KeyedText(key, text)));
}

void TestMessageHandler::publishedIntoRootContext()
{
    MessageHandler().GetAllmsg(); // no context: publishes nothing, no crash
    QQmlEngine engine;
    MessageHandler(engine.rootContext(), nullptr).GetAllmsg();
    for (const MessageHandler::KeyedText &text : MessageHandler::allKeyedTexts())
        QCOMPARE(engine.rootContext()->contextProperty(text.first), QVariant(text.second));
}

void TestMessageHandler::numberedMessages()
{
    const MessageHandler handler;
    for (int number = 1; number <= 8; ++number)
        QVERIFY(!handler.message(number).isEmpty());
    QCOMPARE(handler.message(1), QStringLiteral("Drive is Full"));
    QCOMPARE(handler.message(8), QStringLiteral("No destination drive selected."));
    QVERIFY(handler.message(0).isEmpty() && handler.message(9).isEmpty());
}

CORVANE_TEST_MAIN(TestMessageHandler)
#include "tst_messagehandler.moc"
