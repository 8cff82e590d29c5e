#include <QtTest>

#include <sys/resource.h>

#include <cstring>

#include <QXmlStreamReader>

#include "core/boundedxmldevice.h"

namespace {

// Hands on a document in pieces of at most `step` bytes, as a pipe or a slow
// disk might, so that every construct is met cut at every place.
class TrickleDevice : public QIODevice
{
public:
    TrickleDevice(QByteArray text, qint64 piece) : bytes(std::move(text)), step(piece) { open(QIODevice::ReadOnly); }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 n = std::min({maxSize, step, qint64(bytes.size()) - at});
        std::memcpy(data, bytes.constData() + at, size_t(n));
        at += n;
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray bytes;
    qint64 step;
    qint64 at = 0;
};

// A document made as it is read: `head`, then `size` bytes of `filler`
// repeated, then `tail`.  Nothing of that size is ever held.
class GeneratedDevice : public QIODevice
{
public:
    GeneratedDevice(QByteArray start, QByteArray fill, qint64 fillSize, QByteArray end)
        : head(std::move(start)), filler(std::move(fill)), size(fillSize), tail(std::move(end))
    {
        open(QIODevice::ReadOnly);
    }
    bool isSequential() const override { return true; }
    qint64 handedOut() const { return at; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 total = head.size() + size + tail.size();
        const qint64 n = std::min(maxSize, total - at);
        for (qint64 i = 0; i < n;) {
            const char *from = nullptr;
            qint64 run = 0;
            if (at < head.size()) {
                from = head.constData() + at;
                run = head.size() - at;
            } else if (at < head.size() + size) {
                const qint64 offset = (at - head.size()) % filler.size();
                from = filler.constData() + offset;
                run = std::min(filler.size() - offset, head.size() + size - at);
            } else {
                from = tail.constData() + (at - head.size() - size);
                run = total - at;
            }
            run = std::min(run, n - i);
            std::memcpy(data + i, from, size_t(run));
            i += run;
            at += run;
        }
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray head, filler;
    qint64 size;
    QByteArray tail;
    qint64 at = 0;
};

QByteArray readAll(BoundedXmlDevice &device)
{
    QByteArray all;
    char buffer[1000];
    for (qint64 n; (n = device.read(buffer, sizeof buffer)) > 0;)
        all.append(buffer, n);
    return all;
}

qint64 peakMemory()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return qint64(usage.ru_maxrss) * 1024;
}

} // namespace

class TestBoundedXmlDevice : public QObject
{
    Q_OBJECT

private slots:
    // Runs first, while the peak memory of the process is still low.
    void gigabyteValueReadInBoundedMemory_data()
    {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<QByteArray>("filler");
        QTest::addColumn<QByteArray>("tail");
        QTest::addRow("plain text") << QByteArray("<a><string>") << QByteArray(4096, 'x') << QByteArray("</string></a>");
        QTest::addRow("text broken by empty comments")
            << QByteArray("<a><string>") << QByteArray("xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx<!---->").repeated(100)
            << QByteArray("</string></a>");
        QTest::addRow("CDATA sections one after another")
            << QByteArray("<a><string>") << QByteArray("<![CDATA[xxxxxxxxxxxxxxxxxxxxxxxxxxxxxx]]>").repeated(100)
            << QByteArray("</string></a>");
        QTest::addRow("one comment") << QByteArray("<a><!--") << QByteArray("-x").repeated(2048) << QByteArray("--></a>");
    }

    void gigabyteValueReadInBoundedMemory()
    {
        QFETCH(QByteArray, head);
        QFETCH(QByteArray, filler);
        QFETCH(QByteArray, tail);
        const qint64 gigabyte = qint64(1) << 30;
        GeneratedDevice source(head, filler, gigabyte - gigabyte % filler.size(), tail);
        BoundedXmlDevice device(&source, 1000, 100000);
        const qint64 before = peakMemory();
        qint64 handedOn = 0;
        char buffer[64 * 1024];
        for (qint64 n; (n = device.read(buffer, sizeof buffer)) > 0;)
            handedOn += n;
        QVERIFY2(peakMemory() - before < 16 * 1024 * 1024,
                 qPrintable(QStringLiteral("grew by %1 bytes").arg(peakMemory() - before)));
        QVERIFY(handedOn < 100);
        QCOMPARE(device.skippedCount(), 1);
    }

    // Whatever the pieces the source hands over, the same document comes out.
    void sameOutputWhereverTheReadsCut_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<QStringList>("skipped"); // element:line:bytes
        const QByteArray prolog("<?x y?>\n<!DOCTYPE p SYSTEM 'x.dtd' [<!ELEMENT p ANY>]>\n");
        QTest::addRow("document within the caps passes unchanged")
            << prolog + "<plist version=\"1.0\">\n<dict>\n\t<key>Name</key><string>A &amp; B é</string>\n"
                        "\t<true/><data>QUJD\nREVG</data><!--n--><?pi x?>"
                        "<string><![CDATA[<b>]]></string>\n</dict>\n</plist>\n"
            << QByteArray() << QStringList();
        QTest::addRow("text of exactly the cap kept")
            << "<a><string>" + QByteArray(20, 'x') + "</string></a>" << QByteArray() << QStringList();
        QTest::addRow("text over the cap left out whole")
            << "<a>\n<string>" + QByteArray(21, 'x') + "</string></a>" << QByteArray("<a>\n<string></string></a>")
            << QStringList{"string:2:21"};
        QTest::addRow("line counted across reads")
            << "<a>" + QByteArray("<b/>\n").repeated(40) + "<string>" + QByteArray(21, 'x') + "</string></a>"
            << "<a>" + QByteArray("<b/>\n").repeated(40) + "<string></string></a>" << QStringList{"string:41:21"};
        QTest::addRow("multi-byte characters over the cap left out whole")
            << "<a><string>" + QByteArray("é").repeated(11) + "</string></a>" << QByteArray("<a><string></string></a>")
            << QStringList{"string:1:22"};
        QTest::addRow("entities count as written")
            << "<a><string>" + QByteArray("&amp;").repeated(5) + "</string></a>" << QByteArray("<a><string></string></a>")
            << QStringList{"string:1:25"};
        QTest::addRow("text split by a comment counts whole")
            << QByteArray("<a><string>xxxxxxxxxx<!-- -->xxxxxxxxxx</string></a>")
            << QByteArray("<a><string></string></a>") << QStringList{"string:1:28"};
        QTest::addRow("CDATA sections count together")
            << QByteArray("<a><string><![CDATA[xxxx]]><![CDATA[xxxx]]></string></a>")
            << QByteArray("<a><string></string></a>") << QStringList{"string:1:32"};
        QTest::addRow("data values have their own cap")
            << "<a><data>" + QByteArray(40, 'Q') + "</data><data>" + QByteArray(61, 'Q') + "</data></a>"
            << "<a><data>" + QByteArray(40, 'Q') + "</data><data></data></a>" << QStringList{"data:1:61"};
        QTest::addRow("markup characters inside comments and CDATA")
            << QByteArray("<a><!--<b>--><string><![CDATA[a>b<c]]></string><?p <x> ?></a>") << QByteArray()
            << QStringList();
        QTest::addRow("quoted > inside a tag")
            << QByteArray("<a x='>' y=\"a>b\"><b/></a>") << QByteArray() << QStringList();
        QTest::addRow("tag over the markup cap ends the document")
            << "<a><b x=\"" + QByteArray(60, 'y') + "\"/></a>" << QByteArray("<a>") << QStringList{":1:69"};
        QTest::addRow("cut in a tag: the cut goes on for the reader to see")
            << QByteArray("<a><string>x</str") << QByteArray() << QStringList();
        QTest::addRow("cut in an over-long text: left out")
            << "<a><string>" + QByteArray(30, 'x') << QByteArray("<a><string>") << QStringList{"string:1:30"};
    }

    void sameOutputWhereverTheReadsCut()
    {
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, expected);
        QFETCH(QStringList, skipped);
        if (expected.isEmpty())
            expected = input;
        for (const qint64 piece : {1, 2, 3, 5, 8, 13, 64 * 1024}) {
            TrickleDevice source(input, piece);
            BoundedXmlDevice device(&source, 20, 60);
            // A reader may look ahead, up to the last bytes.
            QByteArray all;
            for (QByteArray more; all.size() < expected.size() - 3 && !(more = device.read(expected.size() - 3 - all.size())).isEmpty();)
                all += more;
            const QByteArray ahead = device.peek(3);
            QVERIFY(!ahead.isEmpty() && expected.mid(all.size()).startsWith(ahead));
            QVERIFY(!device.atEnd());
            all += readAll(device);
            QCOMPARE(all, expected);
            QVERIFY(device.atEnd());
            QStringList left;
            for (const BoundedXmlDevice::Skipped &value : device.skipped())
                left << QStringLiteral("%1:%2:%3").arg(value.element).arg(value.line).arg(value.bytes);
            QCOMPARE(left, skipped);
        }
    }

    // A reader holds every open element: past the depth cap the document
    // ends, before the element that goes too deep.
    void depthCapEndsTheDocument_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<bool>("tooDeep");
        const int cap = BoundedXmlDevice::defaultDepthLimit;
        const QByteArray deepest = QByteArray("<dict>").repeated(cap) + QByteArray("</dict>").repeated(cap);
        QTest::addRow("nested exactly to the cap") << deepest << deepest << false;
        QTest::addRow("closed and empty elements open no level")
            << "<a>" + QByteArray("<b><c/></b><d/>").repeated(cap * 2) + "</a>" << QByteArray() << false;
        QTest::addRow("one level past the cap")
            << QByteArray("<dict>").repeated(cap + 1) + "x" + QByteArray("</dict>").repeated(cap + 1)
            << QByteArray("<dict>").repeated(cap) << true;
        QTest::addRow("past the cap under an attribute-bearing tag")
            << "<p v=\"1\">" + QByteArray("<a x='>'>").repeated(cap) + "</a>"
            << "<p v=\"1\">" + QByteArray("<a x='>'>").repeated(cap - 1) << true;
    }

    void depthCapEndsTheDocument()
    {
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, expected);
        QFETCH(bool, tooDeep);
        if (expected.isEmpty())
            expected = input;
        for (const qint64 piece : {1, 7, 64 * 1024}) {
            TrickleDevice source(input, piece);
            BoundedXmlDevice device(&source, 20, 60);
            QCOMPARE(readAll(device), expected);
            QVERIFY(device.atEnd());
            QCOMPARE(device.tooDeep(), tooDeep);
            QCOMPARE(device.cutShort(), tooDeep);
        }
    }

    // 64 MiB of nested dictionaries end at the cap: the reader on top sees
    // a document cut short, not eleven million open elements.
    void deepNestingEndsAtTheCap()
    {
        const qint64 size = qint64(64) << 20;
        const QByteArray open("<dict>");
        GeneratedDevice source("<plist>", open, size - size % open.size(), "</plist>");
        BoundedXmlDevice device(&source, 1000, 100000);
        QXmlStreamReader reader(&device);
        int opened = 0; // every element is inside the one before
        while (!reader.atEnd() && !reader.hasError()) {
            reader.readNext();
            if (reader.isStartElement())
                ++opened;
        }
        QCOMPARE(reader.error(), QXmlStreamReader::PrematureEndOfDocumentError);
        QCOMPARE(opened, BoundedXmlDevice::defaultDepthLimit);
        QVERIFY(device.tooDeep());
        QVERIFY(source.handedOut() < 1024 * 1024); // no further than a read or so past the cap
    }
};

QTEST_GUILESS_MAIN(TestBoundedXmlDevice)
#include "tst_boundedxmldevice.moc"
