#include <QtTest>

#include "core/probeoutput.h"
#include "testenv.h"

// The readers of ffprobe and ffmpeg output, on canned text.
class TestProbeOutput : public QObject
{
    Q_OBJECT

private slots:
    void videoStreamDuration_data();
    void videoStreamDuration();
    void report_data();
    void report();
};

void TestProbeOutput::videoStreamDuration_data()
{
    const auto stream = [](const char *type, const char *duration) {
        return QStringLiteral("[STREAM]\nindex=0\ncodec_type=%1\nduration=%2\n[/STREAM]\n")
            .arg(QLatin1String(type), QLatin1String(duration));
    };
    QTest::addColumn<QString>("output");
    QTest::addColumn<double>("expected");
    QTest::addRow("audio stream first") << stream("audio", "3.100000") + stream("video", "12.480000") << 12.48;
    QTest::addRow("audio only") << stream("audio", "3.100000") << 0.0;
    QTest::addRow("video N/A") << stream("video", "N/A") + stream("audio", "3.1") << 0.0;
    QTest::addRow("windows line ends") << QStringLiteral("codec_type=video\r\nduration=5.5\r\n") << 5.5;
    QTest::addRow("empty") << QString() << 0.0;
}

void TestProbeOutput::videoStreamDuration()
{
    QFETCH(QString, output);
    QTEST(ProbeOutput::videoStreamDuration(output), "expected");
}

void TestProbeOutput::report_data()
{
    QTest::addColumn<QString>("report");
    QTest::addColumn<double>("seconds");
    QTest::addRow("ffmpeg report") << "Input #0, mov,mp4,m4a, from 'clip.mp4':\n"
                                      "  Duration: 00:03:25.47, start: 0.000000, bitrate: 805 kb/s\n"
                                   << 205.47;
    QTest::addRow("N/A") << "  Duration: N/A, start: 0.000000, bitrate: N/A\n" << 0.0;
    QTest::addRow("no Duration") << "clip.avi: Invalid data found when processing input\n" << 0.0;
    QTest::addRow("cut short") << "Duration: 00:0" << 0.0;
}

void TestProbeOutput::report()
{
    QFETCH(QString, report);
    QFETCH(double, seconds);
    QVERIFY(qAbs(ProbeOutput::reportDuration(report) - seconds) < 1e-9);
}

CORVANE_TEST_MAIN(TestProbeOutput)
#include "tst_probeoutput.moc"
