#ifndef TESTENV_H
#define TESTENV_H

#include <QApplication>
#include <QtTest>

#include <vector>

namespace testkit {

// Points HOME and the XDG folders at a fresh temporary folder that lives until
// the process ends, so no test ever reads or writes a real user's files.
// Call before the application object is made.
void isolateUserFolders();

// The temporary home folder made by isolateUserFolders().
QString testHome();

// The vehicle choice kept in the application's settings ("MainWindows":
// Model, ModelName, ModelYearIndex, ModelYearValue), and emptying them all.
QVariantMap savedVehicle();
void saveVehicle(int model, const QString &name, int yearIndex, const QString &year);
void clearSettings();

// The machine's load averages over 1, 5 and 15 minutes, for a benchmark's
// report: others may be busy on the machine.
QString machineLoad();

// For the benchmarks: the median of some figures (the upper one of an even
// count); the process restricted to the CPUs listed ("0,1"; "all" leaves it
// as it is), before any thread exists; and the program run again, once
// pinned to CPUs 0 and 1 and once on all cores, with `arguments` and the
// setting last, its output forwarded.  False when a run fails.
double median(std::vector<double> values);
bool pinToCpus(const QString &cpus);
bool runPinnedAndUnpinned(const QStringList &arguments);

} // namespace testkit

// QTEST_MAIN with the user's folders isolated first.
#define CORVANE_TEST_MAIN(TestObject)                                                                                  \
    int main(int argc, char *argv[])                                                                                   \
    {                                                                                                                  \
        testkit::isolateUserFolders();                                                                                 \
        QApplication app(argc, argv);                                                                                  \
        TestObject tc;                                                                                                 \
        QTEST_SET_MAIN_SOURCE_PATH                                                                                     \
        return QTest::qExec(&tc, argc, argv);                                                                          \
    }

// A wait in a test only guards against a hang: a loaded machine with two
// cores may take many times as long as an idle one, so the waits that name
// no limit of their own get a generous one instead of QtTest's five seconds.
// The wait still ends as soon as its condition holds.
#undef QTRY_VERIFY
#undef QTRY_VERIFY2
#undef QTRY_COMPARE
#define QTRY_VERIFY(expr) QTRY_VERIFY_WITH_TIMEOUT(expr, 60000)
#define QTRY_VERIFY2(expr, messageExpression) QTRY_VERIFY2_WITH_TIMEOUT(expr, messageExpression, 60000)
#define QTRY_COMPARE(expr, expected) QTRY_COMPARE_WITH_TIMEOUT(expr, expected, 60000)

#endif // TESTENV_H
