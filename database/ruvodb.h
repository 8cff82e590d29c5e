#ifndef RUVODB_H
#define RUVODB_H

#include <QObject>
#include <QSqlDatabase>
#include <QString>

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


    // ---- Library load, clean-up and deletion ------------------------------
    // True when the library behind `database` (or this thread's connection)
    // holds at least one album.
    static bool checkDB(QSqlDatabase database = QSqlDatabase());

    // ---- Local tag inference ----------------------------------------------


    // ---- Lookup results ---------------------------------------------------

};

#endif // RUVODB_H
