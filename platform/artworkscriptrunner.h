#ifndef ARTWORKSCRIPTRUNNER_H
#define ARTWORKSCRIPTRUNNER_H

#include <QString>

// Runs the iTunes artwork AppleScript.  Only macOS has osascript: there the
// script runs with an argument list, a time limit and its exit status read;
// elsewhere the runner logs that there is no osascript and returns false.
class ArtworkScriptRunner
{
public:
    // Time limit for one run of the script.
    static constexpr int timeoutMs = 10 * 60 * 1000;

    // True when the script ran and exited with status 0.
    static bool run(const QString &scriptPath);
    // The same through Windows' script host (cscript); on other systems it
    // logs that there is none and returns false.
    static bool runWindowsScript(const QString &scriptPath);
};

#endif // ARTWORKSCRIPTRUNNER_H
