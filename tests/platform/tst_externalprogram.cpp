#include <QtTest>

#include <csignal>
#include <thread>

#include "platform/externalprogram.h"
#include "platform/temporaryfiles.h"
#include "libraryfixture.h"
#include "mediakit.h"
#include "scanfixture.h"
#include "testenv.h"

// The external-program layer against fake tools: small shell scripts that
// print chosen output, exit with a chosen code, crash or hang.
using testkit::fileBytes;

class TestExternalProgram : public QObject
{
    Q_OBJECT

private slots:
    void outcomes_data()
    {
        QTest::addColumn<bool>("streaming");
        QTest::addColumn<QString>("body"); // "GATE": a file the line handler makes at the first line
        QTest::addColumn<int>("timeoutMs");
        // "": never stopped; "soon": by another thread while the run goes on;
        // "first line": as the first line is read (streaming only)
        QTest::addColumn<QString>("stopAt");
        QTest::addColumn<int>("graceMs");
        QTest::addColumn<QString>("lines");
        QTest::addColumn<QString>("outcome");

        QTest::addRow("killed by a signal is a crash")
            << false << "echo before; kill -SEGV $$" << 60000 << "" << 0 << "before" << "crashed, exit -1";
        // The timeouts are short, but so much shorter than the hang that the outcome is certain.
        QTest::addRow("hang ends at the timeout")
            << false << "exec sleep 600" << 400 << "" << 0 << "" << "timed out, exit -1";
        // A tool that asks a question must read end-of-file, not wait forever.
        QTest::addRow("standard input is closed")
            << false << "read answer; echo \"got:$answer\"" << 60000 << "" << 0 << "got:" << "exit 0";
        QTest::addRow("a stop ends the run") << false << "exec sleep 600" << 120000 << "soon" << 0 << ""
                                             << "stopped, exit -1";
        QTest::addRow("a missing program is not started")
            << false << "" << 60000 << "" << 0 << "" << "not started, exit -1";

        // The program prints its last line only once the first has been read
        // while it still runs; a bounded wait keeps a fault from hanging the test.
        QTest::addRow("streamed: lines end in CR or LF; a last line without end")
            << true
            << "printf 'one\\rtwo\\n'; i=0; while [ ! -e 'GATE' ] && [ $i -lt 600 ]; do sleep 0.1; i=$((i+1)); "
               "done; [ -e 'GATE' ] && printf 'three' || printf 'only at the end'"
            << 120000 << "" << 0 << "one|two|three" << "exit 0";
        QTest::addRow("streamed: a stop writes q to standard input")
            << true << "echo ready; k=$(head -c 1); echo \"quit:$k\"" << 120000 << "first line" << 60000
            << "ready|quit:q" << "stopped, exit 0";
        QTest::addRow("streamed: a program deaf to q is killed after the grace period")
            << true << "echo ready; exec sleep 600" << 120000 << "first line" << 300 << "ready"
            << "stopped, exit -1";
        QTest::addRow("streamed: hang ends at the timeout")
            << true << "exec sleep 600" << 400 << "" << 300 << "" << "timed out, exit -1";
    }

    void outcomes()
    {
        QFETCH(bool, streaming);
        QFETCH(QString, body);
        QFETCH(int, timeoutMs);
        QFETCH(QString, stopAt);
        QFETCH(int, graceMs);
        const QString gate = dir.filePath(QString("gate-") + QTest::currentDataTag());
        QFile::remove(gate);
        std::atomic<bool> stop{false};
        ExternalProgram program(body.isEmpty() ? dir.filePath("absent")
                                               : script(QString("tool-") + QTest::currentDataTag(),
                                                        body.replace("GATE", gate)));
        program.setStopFlag(&stop);
        // Before or after the program has started, the stop must end it.
        std::thread stopper([&stop, stopAt] {
            if (stopAt == "soon") {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                stop = true;
            }
        });
        QStringList lines;
        const ExternalProgram::Result result =
            !streaming ? program.run({}, timeoutMs)
                       : program.runStreaming({}, timeoutMs, [&](const QByteArray &line) {
                             if (lines.isEmpty()) {
                                 testkit::touch(gate);
                                 stop = stopAt == "first line";
                             }
                             lines << QString::fromUtf8(line);
                         }, "q", graceMs);
        stopper.join();
        if (!streaming)
            lines = QString::fromUtf8(result.standardOutput).split('\n', Qt::SkipEmptyParts);
        QTEST(lines.join('|'), "lines");
        QString outcome = "exit " + QString::number(result.exitCode);
        for (const auto &[flag, name] : {std::pair{result.stopped, "stopped"}, {result.timedOut, "timed out"},
                                         {result.crashed, "crashed"}, {!result.started, "not started"}})
            outcome = flag ? name + (", " + outcome) : outcome;
        QTEST(outcome, "outcome");
        QCOMPARE(result.succeeded(), outcome == "exit 0");
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
    }

    // A program killed outright (kill -9) takes its running tool with it.
    void toolDiesWithTheProgram()
    {
        const QString pidFile = dir.filePath("tool.pid");
        const QString tool = script("held", QStringLiteral("echo $$ > '%1'; exec sleep 60").arg(pidFile));
        QProcess program;
        program.start(QCoreApplication::applicationFilePath(), {"--run-tool", tool});
        QVERIFY(program.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(fileBytes(pidFile).endsWith('\n'), 60000);
        const pid_t pid = fileBytes(pidFile).trimmed().toInt();
        program.kill();
        QVERIFY(program.waitForFinished());
        // Gone, or a zombie waiting for whoever adopted it.
        QTRY_VERIFY_WITH_TIMEOUT(::kill(pid, 0) != 0 || fileBytes(QString("/proc/%1/stat").arg(pid)).contains(") Z "),
                                 60000);
    }

    // Only the program's own temporary files go, and only those older than
    // the sweep's start: a running job's are younger.
    void sweepTakesOnlyOldLeftovers()
    {
        const QString root = dir.filePath("swept");
        const QString ours = TemporaryFiles::beside(root + "/Album/a.mp3");
        const QStringList kept{root + "/Album/a.mp3", root + "/Album/.a.mp3.part", root + "/.hidden"};
        for (const QString &path : kept + QStringList{ours})
            QVERIFY(testkit::touch(path));
        QVERIFY(QFile::link(root + "/Album/a.mp3", TemporaryFiles::beside(root + "/link.mp3")));
        QVERIFY(TemporaryFiles::isTemporaryName(QFileInfo(TemporaryFiles::templateBeside(root + "/a.mp3")).fileName()));
        const QDateTime start = QDateTime::currentDateTime().addSecs(1);
        QCOMPARE(TemporaryFiles::sweep(root, false, start), 0);
        QCOMPARE(TemporaryFiles::sweep(root, true, start.addSecs(-3600)), 0);
        QCOMPARE(TemporaryFiles::sweep(root, true, start), 1);
        QVERIFY(!QFile::exists(ours));
        for (const QString &path : kept)
            QVERIFY(QFile::exists(path));
        QCOMPARE(QDir(root).entryList(QDir::System | QDir::Hidden | QDir::Files).size(), 2); // the link stays
    }

private:
    QString script(const QString &name, const QString &body)
    {
        return testkit::MediaKit::fakeTool(dir.path(), QString(name).replace(' ', '_'), body);
    }
    QTemporaryDir dir;
};

int main(int argc, char *argv[])
{
    if (argc == 3 && qstrcmp(argv[1], "--run-tool") == 0) {
        // The program of toolDiesWithTheProgram: runs the tool until killed.
        QCoreApplication app(argc, argv);
        ExternalProgram(QString::fromLocal8Bit(argv[2])).run({}, 60000);
        return 0;
    }
    testkit::isolateUserFolders();
    QApplication app(argc, argv);
    TestExternalProgram tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}
#include "tst_externalprogram.moc"
