#include <QtTest>

#include <QImage>
#include <QRandomGenerator>

#include "core/pngwriter.h"

// The album pictures' PNG files: whatever the pixel format and size, a PNG
// reader gives back the very pixels written, also when the rows span
// several of the file's stored blocks.
class TestPngWriter : public QObject
{
    Q_OBJECT

private slots:
    void pixelsKept_data()
    {
        QTest::addColumn<QImage::Format>("format");
        QTest::addColumn<QSize>("size");
        QTest::addRow("RGB32 110 x 110") << QImage::Format_RGB32 << QSize(110, 110);
        QTest::addRow("RGB32 1 x 1") << QImage::Format_RGB32 << QSize(1, 1);
        // 3 x 300 + 1 bytes a row: the rows fill several 64 KiB blocks, one
        // of them ending exactly inside a row.
        QTest::addRow("RGB32 300 x 300") << QImage::Format_RGB32 << QSize(300, 300);
        QTest::addRow("ARGB32 110 x 73") << QImage::Format_ARGB32 << QSize(110, 73);
        QTest::addRow("ARGB32 200 x 200") << QImage::Format_ARGB32 << QSize(200, 200);
        QTest::addRow("RGB888 odd width 73 x 110") << QImage::Format_RGB888 << QSize(73, 110);
        QTest::addRow("Grayscale8 110 x 110") << QImage::Format_Grayscale8 << QSize(110, 110);
    }

    void pixelsKept()
    {
        QFETCH(QImage::Format, format);
        QFETCH(QSize, size);
        QImage source(size, QImage::Format_ARGB32);
        QRandomGenerator random(size.width() * 1000 + size.height());
        for (int y = 0; y < size.height(); ++y) {
            auto *line = reinterpret_cast<QRgb *>(source.scanLine(y));
            for (int x = 0; x < size.width(); ++x)
                line[x] = random.generate();
        }
        source = source.convertToFormat(format);

        const QByteArray png = PngWriter::encode(source);
        QVERIFY(png.startsWith("\x89PNG\r\n\x1a\n"));
        QImage decoded;
        QVERIFY(decoded.loadFromData(png, "PNG"));
        QCOMPARE(decoded.size(), size);
        QCOMPARE(decoded.hasAlphaChannel(), source.hasAlphaChannel());
        const QImage::Format compared = source.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32;
        QCOMPARE(decoded.convertToFormat(compared), source.convertToFormat(compared));
    }

    void nothingForANullImage() { QVERIFY(PngWriter::encode(QImage()).isEmpty()); }
};

QTEST_MAIN(TestPngWriter)
#include "tst_pngwriter.moc"
