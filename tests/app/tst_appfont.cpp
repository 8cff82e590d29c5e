#include <QtTest>

#include <QFontDatabase>
#include <QQuickItem>

#include "app/qmlapplicationviewer.h"
#include "app/startup.h"
#include "testenv.h"

// The interface is drawn in the font the program carries, not in whatever
// sans-serif font the system happens to have.
class TestAppFont : public QObject
{
    Q_OBJECT

private slots:
    void interfaceUsesTheBundledFont()
    {
        // The resource is a font Qt can load, of the family the interface names.
        QFile resource(QStringLiteral(":/resources/fonts/sans"));
        QVERIFY(resource.open(QIODevice::ReadOnly));
        const int id = QFontDatabase::addApplicationFontFromData(resource.readAll());
        QCOMPARE(QFontDatabase::applicationFontFamilies(id), QStringList{QStringLiteral("DejaVu Sans")});
        QVERIFY(QFontDatabase::removeApplicationFont(id));

        StartUp app;
        app.start();
        QCOMPARE(QGuiApplication::font().family(), QStringLiteral("DejaVu Sans"));
        // The window still renders, its text in that font.
        const QImage frame = app.viewer().grabWindow();
        QVERIFY(!frame.isNull() && frame.size() == app.viewer().size());
        int texts = 0;
        for (QQuickItem *item : app.viewer().rootObject()->findChildren<QQuickItem *>()) {
            const QVariant font = item->property("font");
            if (!font.isValid() || !item->property("text").isValid() || !item->isVisible())
                continue;
            ++texts;
            QVERIFY2(font.value<QFont>().family() == QStringLiteral("DejaVu Sans"),
                     qPrintable(item->objectName() + ": " + font.value<QFont>().family()));
        }
        QVERIFY(texts > 0);
    }
};

CORVANE_TEST_MAIN(TestAppFont)
#include "tst_appfont.moc"
