#ifndef ITUNECOVERARTEXTRACTER_H
#define ITUNECOVERARTEXTRACTER_H

#include <QString>

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

    // Runs the artwork script through the platform's script runner; true when
    // it ran and succeeded.  Started in the background at start-up.
    bool executeCoverScript();
    bool iMacScript();

    // Folder of the extracted pictures: <data folder>/iTunes.
    static QString outputFolder();
    // Forgets the cache files found so far; the next look-up lists them anew.
    static void resetCacheFileIndex();

    QString scriptPath;
};

#endif // ITUNECOVERARTEXTRACTER_H
