#include <QtTest>

#include <atomic>
#include <thread>

#include "platform/externalprogram.h"
#include "testenv.h"

// The external-program layer against fake tools: small shell scripts that
// print chosen output, exit with a chosen code, crash or hang.
class TestExternalProgram : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void outcomes_data();
    void outcomes();
    void argumentsReachProgramUntouched();
    void mergedChannels();
    void standardInputIsClosed();
    void stopFlagEndsRun();
    void missingProgram();
    void locateOrder();
    void relativePaths();

private:
    QString script(const QString &name, const QString &body);
    QTemporaryDir dir;
};

QString TestExternalProgram::script(const QString &name, const QString &body)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    file.write("#!/bin/sh\n");
    file.write(body.toUtf8());
    file.write("\n");
    file.close();
    file.setPermissions(file.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeUser);
    return path;
}

void TestExternalProgram::initTestCase()
{
    QVERIFY(dir.isValid());
}

void TestExternalProgram::cleanup()
{
    ExternalProgram::setToolPath(ExternalProgram::Ffmpeg, QString());
    ExternalProgram::setToolPath(ExternalProgram::Ffprobe, QString());
    ExternalProgram::setToolPath(ExternalProgram::Fpcalc, QString());
}

void TestExternalProgram::outcomes_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<bool>("finished");
    QTest::addColumn<bool>("succeeded");
    QTest::addColumn<bool>("crashed");
    QTest::addColumn<bool>("timedOut");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("output");

    QTest::addRow("prints and exits 0") << "printf 'codec_name=mp3\\n'; exit 0" << 5000 << true << true << false << false
                                        << 0 << QByteArray("codec_name=mp3\n");
    QTest::addRow("non-zero exit is a failure") << "echo partial; exit 3" << 5000 << true << false << false << false
                                                << 3 << QByteArray("partial\n");
    QTest::addRow("exit 1 with output") << "echo 'Duration: 00:00:03.04'; exit 1" << 5000 << true << false << false
                                        << false << 1 << QByteArray("Duration: 00:00:03.04\n");
    QTest::addRow("killed by a signal is a crash") << "echo before; kill -SEGV $$" << 5000 << false << false << true
                                                   << false << -1 << QByteArray("before\n");
    QTest::addRow("hang ends at the timeout") << "echo started; exec sleep 30" << 400 << false << false << false
                                              << true << -1 << QByteArray("started\n");
}

void TestExternalProgram::outcomes()
{
    QFETCH(QString, body);
    QFETCH(int, timeoutMs);
    const QString tool = script(QStringLiteral("tool-%1").arg(QTest::currentDataTag()).replace(' ', '_'), body);
    QVERIFY(!tool.isEmpty());

    QElapsedTimer clock;
    clock.start();
    const ExternalProgram::Result result = ExternalProgram(tool).run({}, timeoutMs);
    QVERIFY2(clock.elapsed() < 10000, "the run must end near its timeout");

    QVERIFY(result.started);
    QTEST(result.finished(), "finished");
    QTEST(result.succeeded(), "succeeded");
    QTEST(result.crashed, "crashed");
    QTEST(result.timedOut, "timedOut");
    QTEST(result.exitCode, "exitCode");
    QTEST(result.standardOutput, "output");
}

void TestExternalProgram::argumentsReachProgramUntouched()
{
    const QString tool = script(QStringLiteral("args"), QStringLiteral("for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done"));
    const QStringList args{QStringLiteral("-i"), QStringLiteral("My Song; rm -rf ~.mp3"), QStringLiteral("$(id)"),
                           QStringLiteral("Группа крови.flac"), QString()};
    const ExternalProgram::Result result = ExternalProgram(tool).run(args, 5000);
    QVERIFY(result.succeeded());
    QCOMPARE(QString::fromUtf8(result.standardOutput),
             QStringLiteral("[-i]\n[My Song; rm -rf ~.mp3]\n[$(id)]\n[Группа крови.flac]\n[]\n"));
}

void TestExternalProgram::mergedChannels()
{
    const QString tool = script(QStringLiteral("stderr"), QStringLiteral("echo out; echo err >&2"));
    const ExternalProgram::Result separate = ExternalProgram(tool).run({}, 5000);
    QCOMPARE(separate.standardOutput, QByteArray("out\n"));
    QCOMPARE(separate.standardError, QByteArray("err\n"));

    ExternalProgram merged(tool);
    merged.setMergedChannels(true);
    const ExternalProgram::Result both = merged.run({}, 5000);
    QVERIFY(both.standardOutput.contains("out\n"));
    QVERIFY(both.standardOutput.contains("err\n"));
    QVERIFY(both.standardError.isEmpty());
}

void TestExternalProgram::standardInputIsClosed()
{
    // A tool that asks a question must read end-of-file, not wait forever.
    const QString tool = script(QStringLiteral("ask"), QStringLiteral("read answer; echo \"got:$answer\""));
    const ExternalProgram::Result result = ExternalProgram(tool).run({}, 5000);
    QVERIFY(!result.timedOut);
    QCOMPARE(result.standardOutput, QByteArray("got:\n"));
}

void TestExternalProgram::stopFlagEndsRun()
{
    const QString tool = script(QStringLiteral("long"), QStringLiteral("exec sleep 30"));
    std::atomic<bool> stop{false};
    ExternalProgram program(tool);
    program.setStopFlag(&stop);
    std::thread setter([&stop] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        stop = true;
    });
    QElapsedTimer clock;
    clock.start();
    const ExternalProgram::Result result = program.run({}, 60000);
    setter.join();
    QVERIFY(clock.elapsed() < 10000);
    QVERIFY(result.stopped);
    QVERIFY(!result.finished());
    QVERIFY(!result.succeeded());
}

void TestExternalProgram::missingProgram()
{
    const ExternalProgram::Result missing = ExternalProgram(dir.filePath(QStringLiteral("absent"))).run({}, 5000);
    QVERIFY(!missing.started);
    QVERIFY(!missing.succeeded());
    QVERIFY(!missing.errorText.isEmpty());

    const ExternalProgram::Result unnamed = ExternalProgram(QString()).run({}, 5000);
    QVERIFY(!unnamed.started);

    // A file that is not executable does not start either.
    const QString plain = dir.filePath(QStringLiteral("plain.txt"));
    QFile file(plain);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("echo hi\n");
    file.close();
    QVERIFY(!ExternalProgram(plain).run({}, 5000).started);
}

void TestExternalProgram::locateOrder()
{
    // The override wins, even over PATH.
    const QString fake = script(QStringLiteral("fake-ffprobe"), QStringLiteral("echo fake"));
    ExternalProgram::setToolPath(ExternalProgram::Ffprobe, fake);
    QCOMPARE(ExternalProgram::locate(ExternalProgram::Ffprobe), fake);
    QCOMPARE(ExternalProgram(ExternalProgram::Ffprobe).program(), fake);
    QCOMPARE(ExternalProgram(ExternalProgram::Ffprobe).run({}, 5000).standardOutput, QByteArray("fake\n"));
    ExternalProgram::setToolPath(ExternalProgram::Ffprobe, QString());

    // Without an override and without a copy beside the executable: PATH.
    QVERIFY(!QFileInfo::exists(QCoreApplication::applicationDirPath() + QStringLiteral("/fingerprint/fpcalc")));
    QTemporaryDir pathDir;
    QFile::copy(fake, pathDir.filePath(QStringLiteral("fpcalc")));
    QFile(pathDir.filePath(QStringLiteral("fpcalc"))).setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(pathDir.path()));
    const QString found = ExternalProgram::locate(ExternalProgram::Fpcalc);
    qputenv("PATH", QByteArray());
    const QString none = ExternalProgram::locate(ExternalProgram::Fpcalc);
    qputenv("PATH", oldPath);
    QCOMPARE(found, pathDir.filePath(QStringLiteral("fpcalc")));
    QVERIFY(none.isEmpty());
}

void TestExternalProgram::relativePaths()
{
    QCOMPARE(ExternalProgram::relativePath(ExternalProgram::Ffmpeg), QStringLiteral("ffmpeg/ffmpeg"));
    QCOMPARE(ExternalProgram::relativePath(ExternalProgram::Ffprobe), QStringLiteral("ffmpeg/ffprobe"));
    QCOMPARE(ExternalProgram::relativePath(ExternalProgram::Fpcalc), QStringLiteral("fingerprint/fpcalc"));
}

CORVANE_TEST_MAIN(TestExternalProgram)
#include "tst_externalprogram.moc"
