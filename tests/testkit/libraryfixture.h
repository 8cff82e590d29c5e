#ifndef LIBRARYFIXTURE_H
#define LIBRARYFIXTURE_H

#include <QVariant>

#include "core/track.h"

// A library file in the isolated data folder for the database tests, and the
// few helpers they share to fill it and look into it.  Everything runs on the
// calling thread's own connection.
namespace testkit {

QString libraryFile();
// Closes the default connection and deletes the library file and its journal.
void forgetLibrary();
// Starts from a fresh library file: connect (creating it) and build the schema.
bool openLibrary();

// Runs one statement with bound values; a failure is a test warning.
bool exec(const QString &sql, const QVariantList &values = {});
// The first value of the first row, or an invalid QVariant.
QVariant scalar(const QString &sql, const QVariantList &values = {});
int count(const QString &table);

// Writes a small file, making its folders.
bool touch(const QString &path, const QByteArray &content = QByteArrayLiteral("audio"));

// A known audio track of `path`: title "Song", genre "Rock", 2001, 192 kbit/s,
// the placeholder cover and no codec (an absent text must still be stored).
track makeTrack(const QString &path, const QString &album = QStringLiteral("Album"),
                const QString &artist = QStringLiteral("Artist"));
// A video clip of `path` as the video optimisation gets it: id `id`, its
// file name as its title.
track makeVideo(int id, const QString &path);

// One track as a scan leaves it in the staging tables.  A null album or
// artist stages the track with no row behind that id.
struct StagedRow
{
    QString title;
    QString album;
    QString artist;
    int bitrate = 192;
    int duration = 200;
    int tracknumber = 0;
    QString playlist = QStringLiteral("");
};
bool stage(const QString &folder, const QList<StagedRow> &rows);

} // namespace testkit

#endif // LIBRARYFIXTURE_H
