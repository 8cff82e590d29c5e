#ifndef RUVODB_H
#define RUVODB_H

#include <QObject>
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


    // ---- Repository staging -----------------------------------------------


    // ---- Library writes ---------------------------------------------------


    // ---- Library load, clean-up and deletion ------------------------------


    // ---- Local tag inference ----------------------------------------------


    // ---- Lookup results ---------------------------------------------------

};

#endif // RUVODB_H
