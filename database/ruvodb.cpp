#include "database/ruvodb.h"

ruvoDB::ruvoDB(QObject *parent)
    : QObject(parent)
{
}

// ---- Library state --------------------------------------------------------



// ---- Repository staging ---------------------------------------------------



// ---- Library writes -------------------------------------------------------



// ---- Library load, clean-up and deletion ----------------------------------



// ---- Local tag inference --------------------------------------------------



// ---- Lookup results -------------------------------------------------------

