#ifndef TEMPORARYFILES_H
#define TEMPORARYFILES_H

#include <QDateTime>
#include <QString>

// Every temporary file the program writes has one name pattern,
//   ".<name>.corvane-<random>.part[.<extension>]",
// where <random> is eight lower-case hex digits followed by six letters and
// <extension> a short lower-case suffix, and lives beside the file it will
// become.  The name is shortened (never
// the suffix) so that it stays within the 255-byte limit of a name, so a
// legal long target name always has a legal temporary name.  The pattern is
// what the sweep recognises: after a crash the program removes its own
// leftovers, and only those.
class TemporaryFiles
{
public:
    static constexpr int nameLimitBytes = 255;

    // A fresh temporary path in the folder of `target`.  `extension` (no
    // dot) is kept at the very end when given: ffmpeg picks its container
    // from it.
    static QString beside(const QString &target, const QString &extension = QString());
    // The same as a QTemporaryFile template (its "XXXXXX" is the random part).
    static QString templateBeside(const QString &target);
    // Whether a file name is exactly one of the program's temporary names;
    // a hidden name a user chose that merely looks alike is not.
    static bool isTemporaryName(const QString &fileName);
    // `name` cut at a character boundary so that `prefix + name + suffix`
    // takes at most `limitBytes` bytes in UTF-8.
    static QString fitName(const QString &prefix, const QString &name, const QString &suffix,
                           int limitBytes = nameLimitBytes);

    // Removes the program's temporary files in `folder` (and below it when
    // `recursive`) last changed before `before`; links are neither followed
    // nor removed.  Files of a job that runs now are younger than its start,
    // so pass the time the sweeping job started.  Returns how many went.
    static int sweep(const QString &folder, bool recursive, const QDateTime &before);
};

#endif // TEMPORARYFILES_H
