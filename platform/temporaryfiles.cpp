#include "platform/temporaryfiles.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

namespace {

const QString marker = QStringLiteral(".corvane-");

QString suffixWith(const QString &random, const QString &extension)
{
    QString suffix = marker + random + QStringLiteral(".part");
    if (!extension.isEmpty())
        suffix += QLatin1Char('.') + extension;
    return suffix;
}

QString folderOf(const QString &target)
{
    return QFileInfo(target).absolutePath() + QLatin1Char('/');
}

// The random part: eight lower-case hex digits, then six letters.  The six
// letters are the part QTemporaryFile fills in (it uses letters only); the
// digits in front keep a word a user might choose ("backup", "remaster")
// from ever looking like one of ours.
QString hexPart()
{
    return QStringLiteral("%1").arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
}

QString letterPart()
{
    static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    QString part;
    for (int i = 0; i < 6; ++i)
        part += QLatin1Char(letters[QRandomGenerator::global()->bounded(52)]);
    return part;
}

} // namespace

QString TemporaryFiles::fitName(const QString &prefix, const QString &name, const QString &suffix, int limitBytes)
{
    int room = limitBytes - int(prefix.toUtf8().size()) - int(suffix.toUtf8().size());
    QString fitted;
    for (int i = 0; i < name.size(); ++i) {
        // A surrogate pair is one character: kept or cut as a whole.
        const int units = name.at(i).isHighSurrogate() && i + 1 < name.size() ? 2 : 1;
        const int bytes = int(name.mid(i, units).toUtf8().size());
        if (bytes > room)
            break;
        room -= bytes;
        fitted += name.mid(i, units);
        i += units - 1;
    }
    return prefix + fitted + suffix;
}

QString TemporaryFiles::beside(const QString &target, const QString &extension)
{
    return folderOf(target) + fitName(QStringLiteral("."), QFileInfo(target).fileName(),
                                      suffixWith(hexPart() + letterPart(), extension));
}

QString TemporaryFiles::templateBeside(const QString &target)
{
    return folderOf(target) +
           fitName(QStringLiteral("."), QFileInfo(target).fileName(),
                   suffixWith(hexPart() + QStringLiteral("XXXXXX"), {}));
}

bool TemporaryFiles::isTemporaryName(const QString &fileName)
{
    static const QRegularExpression pattern(
        QStringLiteral("^\\..+\\.corvane-[0-9a-f]{8}[A-Za-z]{6}\\.part(\\.[0-9a-z]{1,4})?$"),
        QRegularExpression::DotMatchesEverythingOption);
    return pattern.match(fileName).hasMatch();
}

int TemporaryFiles::sweep(const QString &folder, bool recursive, const QDateTime &before)
{
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return 0;
    int removed = 0;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System,
                    recursive ? QDirIterator::Subdirectories : QDirIterator::NoIteratorFlags);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        // QDirIterator doesn't descend into linked folders without FollowSymlinks;
        // a link named like a leftover is not ours either.
        if (info.isSymLink() || !info.isFile() || !isTemporaryName(info.fileName()))
            continue;
        if (info.lastModified() >= before)
            continue;
        if (QFile::remove(info.absoluteFilePath()))
            ++removed;
    }
    return removed;
}
