#ifndef RUVODB_H
#define RUVODB_H

#include <QList>
#include <QObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

#include <atomic>
#include <utility>

#include "core/track.h"
#include "core/track_data.h"

// Every read and write of the library.  Each module that uses the library
// holds its own instance; every operation runs on the calling thread's own
// connection (see Database).
class ruvoDB : public QObject, public track_data
{
    Q_OBJECT

public:
    explicit ruvoDB(QObject *parent = nullptr);

    // ---- Library state ----------------------------------------------------
    // True when the library file exists and holds at least one album.
    static bool isDB();

    // ---- Repository staging -----------------------------------------------
    // Stages one scanned record with its folder in the repository tables
    // (TrackRepo, artistsRepo, albumsRepo) and makes sure its genre and year
    // exist in `genres` and `years`.  Runs on the calling thread's own
    // connection, so a scan worker may call it; all of it is one transaction,
    // rolled back on any failed statement.  The same file under the same
    // playlist name is staged once.  Artist and genre names match exactly,
    // album names without regard to ASCII letter case; no character acts as
    // a wildcard.  False when nothing could be staged.
    static bool insertDataTrackRepo(track record);


    // ---- Library writes ---------------------------------------------------
    // Find-or-insert of the name rows a track refers to; the row id, or 0 when
    // it can neither be found nor made.  `query` only lends its connection.
    // Genres match exactly; artists ignore ASCII case; albums ignore ASCII
    // case unless the name holds an apostrophe.  Albums may get a new cover.
    int genres(QSqlQuery query, QString genre);
    int artists(QSqlQuery query, QString name);
    int albums(QSqlQuery query, QString name, QString cover, int year, int artistId);

    // Stores the track as the one row of its file path and playlist (replacing
    // earlier rows of both), with its genre, artist, album and year rows, in
    // one transaction.  False, with the library as it was, when any part of
    // it fails.  The WithItrator form stores `path` as the file path.
    bool insertDataOne(track t);
    // The same, returning the row id, which is the track's id from now on:
    // a track with an id keeps it (a re-store, or an id reserveTrackIds gave
    // it); one without takes the id of its file's row, or of a new row.  0
    // when nothing was stored, also when the id belongs to another file.
    int storeTrack(const track &t);
    // Reserves `count` consecutive track ids that no row has or ever had, and
    // that AUTOINCREMENT will not hand out again, none below `atLeast`; the
    // first of them, 0 on failure.  Lets the add give its tracks their row
    // ids before their files are in place and their rows written.
    static int reserveTrackIds(int count, int atLeast = 1);
    bool insertDataOneWithItrator(TrackMap::iterator it, QString path);
    // Stores every record of the map in key order, each as insertDataOne
    // does (one transaction per record), on this thread's connection.  False
    // for an empty map or when any record could not be stored; the records
    // stored stay stored.  The handle is not used.
    bool insertData(QSqlDatabase database, TrackMap map);
    // insertDataOne for each track, all in one transaction: all or none.
    bool insertTracks(const QList<track> &tracks);

    // Deletes the tracks row with this id; false when the statement fails.
    bool DeleteAudio(QSqlDatabase database, int id);

    // ---- Library load, clean-up and deletion ------------------------------
    // True when the library behind `database` (or this thread's connection)
    // holds at least one album.
    static bool checkDB(QSqlDatabase database = QSqlDatabase());

    // The library as a fresh map keyed by track id.  A row whose file is gone
    // while its folder is still there is deleted; a row whose folder is gone
    // too (an unplugged drive) is kept and left out of the map.  Then orphans
    // are cleaned and album pictures recreated from the database.
    TrackMap loadDB(QSqlDatabase database = QSqlDatabase());
    // loadDB without looking at the tracks' files: every row is in the map.
    // Start-up shows these and runs checkFiles and forgetTracks once the
    // window is up, which together leave the library as loadDB does.
    TrackMap readLibrary(QSqlDatabase database = QSqlDatabase());

    // The tracks whose files are gone: every one is left out of the library
    // (id and path); the rows of those whose folder is still there are to be
    // deleted.  Looks only at the file system, on any thread; `stop` ends it
    // early (then `stopped`, and the lists are incomplete).
    struct FileCheck
    {
        QList<std::pair<int, QString>> leftOut;
        QList<int> deleted;
        bool stopped = false;
    };
    static FileCheck checkFiles(const TrackMap &tracks, const std::atomic<bool> *stop = nullptr);
    // Deletes these tracks rows in one transaction, then the orphans; true
    // when nothing was to be deleted or all of it was.
    bool forgetTracks(QSqlDatabase database, const QList<int> &ids);
    // Deletes genres, artists, albums and years no track uses any more.
    void cleanUpDatabase(QSqlDatabase database = QSqlDatabase());
    // Writes each album picture kept in the database whose file is missing.
    bool createArtwork(QSqlDatabase database = QSqlDatabase());

    // Deletes every row of `path`; when the file is one of the program's own
    // copies (canonically below programCopyFolder(), not a link) deletes it
    // too, and then its folder and the folders above it that this leaves
    // empty, one by one (never anything they still hold).  True only when
    // the file's folder was removed.  Nothing outside the copy folder is ever touched.
    bool deleteTrack(QSqlDatabase database, QString path);
    // Removes a folder strictly below programCopyFolder() with everything in
    // it; links are removed, never followed.  False for any other folder.
    bool removeDir(QString const &dirName);
    // "<data folder>/Music/Corvane Media Organiser": where the program keeps
    // its copies of the library's media, one folder per album.
    static QString programCopyFolder();

    // ---- Local tag inference ----------------------------------------------
    // Completes a track's missing title, album, artist, genre and track number
    // from the staged tracks of its folder; writes nothing.  A value is lent
    // only when it is known: an empty name or one containing "unknown" never
    // counts as found.
    track updatelocalDB(track t);
    // The staged rows of one folder as the inference reads them.  Read once,
    // they serve every track of the folder: the lookup completes a folder's
    // tracks before it writes any of them back.
    struct StagedFolder
    {
        struct Row
        {
            QString album, artist, title, genre, playlist;
            qint64 year = 0, duration = 0, tracknumber = 0;
        };
        QString folderLocation; // as the rows were read for it
        // The folder profile: distinct values in ascending ordinal order.
        QList<QString> albumNames, artistNames, genreNames;
        int years = 0, bitrates = 0; // how many distinct values
        // The rows of the trimmed folder location, in the database's order,
        // for the matching walk.
        QList<Row> rows;
    };
    // Reads the rows of `folderLocation` on the calling thread's connection.
    static StagedFolder stagedFolder(const QString &folderLocation);
    // updatelocalDB with the rows of the track's folder already read.
    track updatelocalDB(track t, const StagedFolder &folder);
    // Lends one matching staged row's values to the record.  Year and
    // duration don't influence what is filled.
    void setValueTrack(track &t, QString album, QString artist, QString title, QString genre, long long year,
                       long long duration, long long tracknumber, QString playlist);

    // ---- Lookup results ---------------------------------------------------
    // Writes a looked-up track into the staging repository: its artist and
    // album rows, then the staged row of the same title and folder (or a new
    // one), all in one transaction.  False, with nothing written, on failure.
    bool updateDataFromAPI(track t);

private:
    struct LibraryRows
    {
        TrackMap tracks;
        bool read = false;    // the tracks were read
        bool orphans = false; // a name row no track refers to
        bool damaged = false; // SQLite found the file damaged on the way
    };
    // Every track row with its names and picture data; no file is looked at.
    LibraryRows readRows(QSqlDatabase db);
    static bool hasOrphanPlaylistItems(QSqlDatabase db);

public slots:
    // Stores the map through insertData when the library opens on this
    // thread; nothing connects to it.
    void saveDB(TrackMap map);
};

#endif // RUVODB_H
