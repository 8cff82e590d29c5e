#ifndef TESTENV_H
#define TESTENV_H

#include <QApplication>
#include <QtTest>

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

} // namespace testkit

// QTEST_MAIN with the user's folders isolated first.
#define CORVANE_TEST_MAIN(TestObject)                                                              \
    int main(int argc, char *argv[])                                                               \
    {                                                                                              \
        testkit::isolateUserFolders();                                                             \
        QApplication app(argc, argv);                                                              \
        TestObject tc;                                                                             \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&tc, argc, argv);                                                      \
    }

#endif // TESTENV_H
