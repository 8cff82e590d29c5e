#include <QtTest>

#include "core/probeoutput.h"
#include "testenv.h"

// The readers of ffprobe and ffmpeg output, on canned text.
class TestProbeOutput : public QObject
{
    Q_OBJECT

private slots:
    void text_data();
    void text();
    void videoStreamDuration_data();
    void videoStreamDuration();
    void report_data();
    void report();
};

void TestProbeOutput::text_data()
{
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<QString>("expected");
    QTest::addRow("trimmed") << QByteArray("  mp3\n\n") << "mp3";
    QTest::addRow("cut at NUL") << QByteArray("aac\0garbage", 11) << "aac";
    QTest::addRow("empty") << QByteArray() << "";
}

void TestProbeOutput::text()
{
    QFETCH(QByteArray, output);
    QTEST(ProbeOutput::text(output), "expected");
}

namespace {
QString stream(const char *type, const char *duration)
{
    return QStringLiteral("[STREAM]\nindex=0\ncodec_name=x\ncodec_type=%1\nr_frame_rate=25/1\nduration=%2\n"
                          "DISPOSITION:default=1\n[/STREAM]\n")
        .arg(QLatin1String(type), QLatin1String(duration));
}
} // namespace

void TestProbeOutput::videoStreamDuration_data()
{
    QTest::addColumn<QString>("output");
    QTest::addColumn<double>("expected");
    QTest::addRow("video only") << stream("video", "20.000000") << 20.0;
    QTest::addRow("audio stream first") << stream("audio", "3.100000") + stream("video", "12.480000") << 12.48;
    QTest::addRow("audio only") << stream("audio", "3.100000") << 0.0;
    QTest::addRow("video N/A") << stream("video", "N/A") + stream("audio", "3.1") << 0.0;
    QTest::addRow("first video stream wins") << stream("video", "7.5") + stream("video", "9.0") << 7.5;
    QTest::addRow("keys compared lower-cased") << QStringLiteral("CODEC_TYPE=video\nDuration=4.25\n") << 4.25;
    QTest::addRow("type compared exactly") << QStringLiteral("codec_type=Video\nduration=4.25\n") << 0.0;
    QTest::addRow("windows line ends") << QStringLiteral("codec_type=video\r\nduration=5.5\r\n") << 5.5;
    QTest::addRow("not a number") << QStringLiteral("codec_type=video\nduration=nan\n") << 0.0;
    QTest::addRow("empty") << QString() << 0.0;
    QTest::addRow("line without equals") << QStringLiteral("codec_type\nduration=3\n") << 0.0;
}

void TestProbeOutput::videoStreamDuration()
{
    QFETCH(QString, output);
    QFETCH(double, expected);
    QCOMPARE(ProbeOutput::videoStreamDuration(output), expected);
}

void TestProbeOutput::report_data()
{
    QTest::addColumn<QString>("report");
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("seconds");
    const QString head = QStringLiteral("Input #0, mov,mp4,m4a,3gp,3g2,mj2, from 'clip.mp4':\n");
    QTest::addRow("ffmpeg report") << head + QStringLiteral("  Duration: 00:03:25.47, start: 0.000000, bitrate: 805 kb/s\n")
                                   << "00:03:25.47" << 205.47;
    QTest::addRow("hours") << QStringLiteral("  Duration: 01:00:00.00, start: 0.0\n") << "01:00:00.00" << 3600.0;
    QTest::addRow("N/A") << QStringLiteral("  Duration: N/A, start: 0.000000, bitrate: N/A\n") << "N/A, start:"
                         << 0.0;
    QTest::addRow("no Duration") << QStringLiteral("clip.avi: Invalid data found when processing input\n") << ""
                                 << 0.0;
    QTest::addRow("lower case is not it") << QStringLiteral("duration: 00:00:05.00,\n") << "" << 0.0;
    QTest::addRow("cut short") << QStringLiteral("Duration: 00:0") << "00:0" << 0.0;
}

void TestProbeOutput::report()
{
    QFETCH(QString, report);
    QTEST(ProbeOutput::durationText(report), "text");
    QFETCH(double, seconds);
    QVERIFY(qAbs(ProbeOutput::reportDuration(report) - seconds) < 1e-9);
}

CORVANE_TEST_MAIN(TestProbeOutput)
#include "tst_probeoutput.moc"
