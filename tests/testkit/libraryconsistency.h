#ifndef LIBRARYCONSISTENCY_H
#define LIBRARYCONSISTENCY_H

#include <QString>
#include <QStringList>

// What the kill tests need to check that the library is whole: the rows'
// paths, the files of the library folder and the start-up's settle.  They
// run on the calling thread's connection.
namespace testkit {

// A car that plays aac and mp3, not flac: FLACs are converted, MP3s copied.
void useAacAndMp3Car();
// What a start does before anything reads the library: the sweep of the
// program's temporary files and the settle of the file journal.
void settleAsAStartDoes();
// The file path of every track row.
QStringList rowPaths();
// Every file below `folder` (hidden ones too), sorted; links to folders and
// folders themselves left out.
QStringList filesBelow(const QString &folder);
// One line for each row without its file and each file of the library
// folder that no row owns; empty when the library is whole.
QStringList inconsistencies();

} // namespace testkit

#endif // LIBRARYCONSISTENCY_H
