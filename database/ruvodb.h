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


    // ---- Library writes ---------------------------------------------------


    // ---- Library load, clean-up and deletion ------------------------------
    // True when the library behind `database` (or this thread's connection)
    // holds at least one album.
    static bool checkDB(QSqlDatabase database = QSqlDatabase());

    // ---- Local tag inference ----------------------------------------------


    // ---- Lookup results ---------------------------------------------------

};

#endif // RUVODB_H
