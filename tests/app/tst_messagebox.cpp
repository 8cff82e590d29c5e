#include <QtTest>

#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>

#include "testenv.h"

// The message box and the scan's progress in the loading overlay, as QML
// shows them: the components from the build's Resources folder in a window
// of their own.
class TestMessageBox : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        const QString components =
            QCoreApplication::applicationDirPath() + QStringLiteral("/../Resources/qml/QRuVOCorvane");
        QVERIFY(QFileInfo::exists(components + QStringLiteral("/MessageBox.qml")));
        QVERIFY(dir.isValid());
        const QString scene = dir.filePath(QStringLiteral("scene.qml"));
        QFile file(scene);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("import QtQuick\n"
                                  "import \"%1\"\n"
                                  "Item {\n"
                                  "    width: 640; height: 480\n"
                                  "    LoadingOverlay { objectName: \"overlay\"; anchors.fill: parent }\n"
                                  "    MessageBox { objectName: \"box\" }\n"
                                  "}\n")
                       .arg(QUrl::fromLocalFile(components).toString())
                       .toUtf8());
        file.close();
        view.setSource(QUrl::fromLocalFile(scene));
        QCOMPARE(view.status(), QQuickView::Ready);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        box = view.rootObject()->findChild<QObject *>(QStringLiteral("box"));
        overlay = view.rootObject()->findChild<QQuickItem *>(QStringLiteral("overlay"));
        QVERIFY(box && overlay);
    }

    void keysClose_data()
    {
        QTest::addColumn<int>("key");
        QTest::addRow("Return") << int(Qt::Key_Return);
        QTest::addRow("Enter on the keypad") << int(Qt::Key_Enter);
        QTest::addRow("Escape") << int(Qt::Key_Escape);
    }

    // Each key closes the box shown, and the next message waiting takes its place.
    void keysClose()
    {
        QFETCH(int, key);
        QVERIFY(QMetaObject::invokeMethod(box, "show", Q_ARG(QVariant, QStringLiteral("First"))));
        QVERIFY(QMetaObject::invokeMethod(box, "show", Q_ARG(QVariant, QStringLiteral("Second"))));
        for (const char *message : {"First", "Second"}) {
            QTRY_VERIFY(box->property("opened").toBool());
            QCOMPARE(box->property("message").toString(), QLatin1String(message));
            QTest::keyClick(&view, Qt::Key(key));
            QTRY_VERIFY(!box->property("visible").toBool() || box->property("message") != message);
        }
        QTRY_VERIFY(!box->property("visible").toBool());
    }

    void longTextStaysInTheBox_data()
    {
        QTest::addColumn<QString>("message");
        QStringList parts;
        for (int i = 0; i < 14; ++i)
            parts << QStringLiteral("Folder number %1").arg(i).replace(QLatin1Char(' '), QLatin1Char('_'));
        QTest::addRow("deep path") << "1 file could not be shown in the browser:\n/" + parts.join(QLatin1Char('/')) +
                                          "/Song.mp3: why";
        QTest::addRow("one name longer than a line") << QStringLiteral("/music/") + QString(300, QLatin1Char('x'));
    }

    // Long paths break into lines within the box (after their separators
    // where they have them) instead of running past its edge.
    void longTextStaysInTheBox()
    {
        QFETCH(QString, message);
        QVERIFY(QMetaObject::invokeMethod(box, "show", Q_ARG(QVariant, message)));
        QTRY_VERIFY(box->property("opened").toBool());
        QQuickItem *text = find(view.contentItem(), QStringLiteral("messageText"));
        QVERIFY(text);
        view.grabWindow(); // laid out
        QVERIFY(text->property("lineCount").toInt() >= 3);
        QVERIFY2(text->property("contentWidth").toReal() <= text->width() + 0.5,
                 qPrintable(
                     QStringLiteral("%1 wide in %2").arg(text->property("contentWidth").toReal()).arg(text->width())));
        // The words of the path are all there, in order, whatever breaks it.
        QCOMPARE(text->property("text").toString().remove(QChar(0x200B)), message);
        QTest::keyClick(&view, Qt::Key_Return);
        QTRY_VERIFY(!box->property("visible").toBool());
    }

    // While a scan runs, the number of files read so far is shown.
    void scanCountShown()
    {
        QVERIFY(QMetaObject::invokeMethod(overlay, "startSearch", Q_ARG(QVariant, QStringLiteral("Searching Files"))));
        QQuickItem *count = find(overlay, QStringLiteral("loadingCount"));
        QVERIFY(count && overlay->isVisible());
        for (const int read : {1, 250}) {
            QVERIFY(QMetaObject::invokeMethod(overlay, "updateSearch", Q_ARG(QVariant, 0), Q_ARG(QVariant, read),
                                              Q_ARG(QVariant, QStringLiteral("/music/a.mp3"))));
            QVERIFY(count->isVisible());
            QCOMPARE(count->property("text").toString(),
                     read == 1 ? QStringLiteral("1 file read") : QStringLiteral("250 files read"));
        }
        QVERIFY(QMetaObject::invokeMethod(overlay, "updateSearch", Q_ARG(QVariant, 1), Q_ARG(QVariant, 1),
                                          Q_ARG(QVariant, QString())));
        QVERIFY(!overlay->isVisible());
    }

private:
    // Popups live in the window's overlay, not below the item they are declared in.
    static QQuickItem *find(QQuickItem *in, const QString &name)
    {
        if (in->objectName() == name)
            return in;
        const QList<QQuickItem *> children = in->childItems();
        for (QQuickItem *child : children) {
            if (QQuickItem *found = find(child, name))
                return found;
        }
        return nullptr;
    }

    QTemporaryDir dir;
    QQuickView view;
    QObject *box = nullptr;
    QQuickItem *overlay = nullptr;
};

CORVANE_TEST_MAIN(TestMessageBox)
#include "tst_messagebox.moc"
