#include <QtTest>

#include <thread>

#include "platform/externalprogram.h"
#include "mediakit.h"
#include "testenv.h"

// The external-program layer against fake tools: small shell scripts that
// print chosen output, exit with a chosen code, crash or hang.
class TestExternalProgram : public QObject
{
    Q_OBJECT

private slots:
    void outcomes_data()
    {
        QTest::addColumn<QString>("body");
        QTest::addColumn<int>("timeoutMs");
        QTest::addColumn<bool>("succeeded");
        QTest::addColumn<bool>("crashed");
        QTest::addColumn<bool>("timedOut");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("output");

        QTest::addRow("prints and exits 0")
            << "printf 'codec_name=mp3\\n'" << 5000 << true << false << false << 0 << QByteArray("codec_name=mp3\n");
        QTest::addRow("non-zero exit is a failure")
            << "echo partial; exit 3" << 5000 << false << false << false << 3 << QByteArray("partial\n");
        QTest::addRow("killed by a signal is a crash")
            << "echo before; kill -SEGV $$" << 5000 << false << true << false << -1 << QByteArray("before\n");
        QTest::addRow("hang ends at the timeout")
            << "echo started; exec sleep 30" << 400 << false << false << true << -1 << QByteArray("started\n");
        // A tool that asks a question must read end-of-file, not wait forever.
        QTest::addRow("standard input is closed")
            << "read answer; echo \"got:$answer\"" << 5000 << true << false << false << 0 << QByteArray("got:\n");
    }

    void outcomes()
    {
        QFETCH(QString, body);
        QFETCH(int, timeoutMs);
        const QString tool = script(QString("tool-") + QTest::currentDataTag(), body);
        const QDeadlineTimer limit(10000);
        const ExternalProgram::Result result = ExternalProgram(tool).run({}, timeoutMs);
        QVERIFY2(!limit.hasExpired(), "the run must end near its timeout");
        QTEST(result.succeeded(), "succeeded");
        QTEST(result.crashed, "crashed");
        QTEST(result.timedOut, "timedOut");
        QTEST(result.exitCode, "exitCode");
        QTEST(result.standardOutput, "output");
    }

    void argumentsAndChannels()
    {
        const QString tool = script(QStringLiteral("args"),
                                    QStringLiteral("for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done; echo err >&2"));
        const QStringList args{QStringLiteral("My Song; rm -rf ~.mp3"), QStringLiteral("$(id)"),
                               QStringLiteral("Группа крови.flac"), QString()};
        const ExternalProgram::Result result = ExternalProgram(tool).run(args, 5000);
        QCOMPARE(QString::fromUtf8(result.standardOutput),
                 QStringLiteral("[My Song; rm -rf ~.mp3]\n[$(id)]\n[Группа крови.flac]\n[]\n"));
        QCOMPARE(result.standardError, QByteArray("err\n"));

        ExternalProgram merged(tool);
        merged.setMergedChannels(true);
        QVERIFY(merged.run({}, 5000).standardOutput.contains("err\n"));
    }

    void stopFlagEndsRun()
    {
        std::atomic<bool> stop{false};
        ExternalProgram program(script(QStringLiteral("long"), QStringLiteral("exec sleep 30")));
        program.setStopFlag(&stop);
        std::thread setter([&stop] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            stop = true;
        });
        QElapsedTimer clock;
        clock.start();
        const ExternalProgram::Result result = program.run({}, 60000);
        setter.join();
        QVERIFY(clock.elapsed() < 10000 && result.stopped && !result.succeeded());
    }

    void missingProgramAndLocate()
    {
        const auto missing = ExternalProgram(dir.filePath(QStringLiteral("absent"))).run({}, 5000);
        QVERIFY(!missing.started && !missing.succeeded() && !missing.errorText.isEmpty());

        // The override wins, even over PATH; without one, PATH.
        const QString fake = script(QStringLiteral("fake-ffprobe"), QStringLiteral("echo fake"));
        ExternalProgram::setToolPath(ExternalProgram::Ffprobe, fake);
        QCOMPARE(ExternalProgram(ExternalProgram::Ffprobe).run({}, 5000).standardOutput, QByteArray("fake\n"));
        ExternalProgram::setToolPath(ExternalProgram::Ffprobe, QString());

        QTemporaryDir pathDir;
        QVERIFY(QFile::copy(fake, pathDir.filePath(QStringLiteral("fpcalc"))));
        const QByteArray oldPath = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(pathDir.path()));
        const QString found = ExternalProgram::locate(ExternalProgram::Fpcalc);
        qputenv("PATH", QByteArray());
        const bool none = ExternalProgram::locate(ExternalProgram::Fpcalc).isEmpty();
        qputenv("PATH", oldPath);
        QVERIFY(none);
        QCOMPARE(found, pathDir.filePath(QStringLiteral("fpcalc")));
    }

    void streaming_data()
    {
        QTest::addColumn<QString>("body");
        QTest::addColumn<int>("timeoutMs");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<bool>("stopped");
        QTest::addColumn<bool>("timedOut");
        QTest::addColumn<int>("exitCode");

        // A line that says "ready" sets the stop flag.
        QTest::addRow("progress lines end in CR or LF; a last line without end")
            << "printf 'one\\rtwo\\n'; sleep 0.4; printf 'three'" << 5000 << QStringList{"one", "two", "three"} << false
            << false << 0;
        QTest::addRow("a stop writes q to standard input")
            << "echo ready; k=$(head -c 1); echo \"quit:$k\"" << 5000 << QStringList{"ready", "quit:q"} << true << false
            << 0;
        QTest::addRow("a program deaf to q is killed after the grace period")
            << "echo ready; exec sleep 30" << 20000 << QStringList{"ready"} << true << false << -1;
        QTest::addRow("hang ends at the timeout")
            << "echo started; exec sleep 30" << 400 << QStringList{"started"} << false << true << -1;
    }

    void streaming()
    {
        QFETCH(QString, body);
        QFETCH(int, timeoutMs);
        std::atomic<bool> stop{false};
        ExternalProgram program(script(QStringLiteral("stream-") + QTest::currentDataTag(), body));
        program.setStopFlag(&stop);
        QStringList lines;
        qint64 firstLineAt = -1;
        QElapsedTimer clock;
        clock.start();
        const ExternalProgram::Result result = program.runStreaming(
            {}, timeoutMs,
            [&](const QByteArray &line) {
                if (firstLineAt < 0)
                    firstLineAt = clock.elapsed();
                lines << QString::fromUtf8(line);
                if (line == "ready")
                    stop = true;
            },
            "q", 300);
        QVERIFY2(clock.elapsed() < 10000, "the run must end near its timeout or grace period");
        // Lines arrive while the program runs, not when it has ended.
        QVERIFY(firstLineAt >= 0 && firstLineAt <= clock.elapsed() - (stop ? 0 : 200));
        QTEST(lines, "lines");
        QTEST(result.stopped, "stopped");
        QTEST(result.timedOut, "timedOut");
        QTEST(result.exitCode, "exitCode");
        QCOMPARE(result.succeeded(), !result.stopped && !result.timedOut && result.exitCode == 0);
    }

private:
    QString script(const QString &name, const QString &body)
    {
        return testkit::MediaKit::fakeTool(dir.path(), QString(name).replace(' ', '_'), body);
    }
    QTemporaryDir dir;
};

CORVANE_TEST_MAIN(TestExternalProgram)
#include "tst_externalprogram.moc"
