#ifndef ITUNECOVERARTEXTRACTER_H
#define ITUNECOVERARTEXTRACTER_H

#include <QMap>
#include <QString>

#include <functional>

// Turns the artwork iTunes keeps in its cache files (".itc2"/".itc" below
// Music/iTunes) into one PNG per album in the data folder's "iTunes" folder,
// so a track without a cover file can still get one.  A PNG once written is
// never replaced, so an album keeps the first image extracted for it.
//
// Cache files are untrusted input: every length and offset is checked against
// the bytes read, files over 64 MiB are refused, and a damaged file yields ""
// and a diagnostic line on standard output, never a read outside the data or
// an endless walk.
class ItuneCoverArtExtracter
{
public:
    ItuneCoverArtExtracter();

    // Largest cache file read; larger ones are refused.
    static constexpr qint64 maxCacheFileSize = qint64(64) * 1024 * 1024;

    // Finds the cache file whose name holds id (the first one met) and
    // extracts its image as the picture of album.  Returns the PNG's path, or
    // "" when id is empty, no cache file holds it or nothing could be had.
    QString RecurseForSingle(const QString &id, const QString &album);

    // Extracts the first local image of the cache file at path as the picture
    // of album (unless that picture exists).  Returns the picture's path when
    // the file exists there afterwards, else "".
    QString DumpITC2Single(const QString &path, const QString &album);

    // Whole-library extraction: every cache file below Music/iTunes, each
    // local image filed under the album that ItuneMapPIDAlubmCopy gave its
    // persistent id.  Returns every album picture written or found so far in
    // this process (album -> PNG path).
    QMap<QString, QString> RecurseForAll();
    // One cache file of the whole-library extraction; returns the path of the
    // last picture named, or "".
    QString DumpITC2(const QString &path);
    // The cleaned album name filed under a persistent id (16 upper-case hex
    // digits), or "".
    QString ItunesArtCheckAlbum(const QString &id);
    // Replaces the id -> album map the whole-library extraction reads.
    void ItuneMapPIDAlubmCopy(const QMap<QString, QString> &map);
    // Prints the machine's byte order, then runs RecurseForAll.
    void extract();

    // Runs the artwork script through the platform's script runner; true when
    // it ran and succeeded.  Started in the background at start-up.
    bool executeCoverScript();
    bool iMacScript();
    // The same for Windows' script host, which no Linux machine has: the
    // runner logs that and reports false.
    bool windowsScript();

    // Folder of the extracted pictures: <data folder>/iTunes.
    static QString outputFolder();
    // Forgets the cache files found so far; the next look-up lists them anew.
    static void resetCacheFileIndex();

    QString scriptPath;

private:
    // The walk both extractions share; albumOf names the album of an item
    // from its id text ("" skips the item).
    QString dumpItems(const QString &path, const std::function<QString(const QString &idText)> &albumOf);
};

#endif // ITUNECOVERARTEXTRACTER_H
