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

#endif // TESTENV_H
