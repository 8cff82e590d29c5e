#ifndef LIBRARYCONSISTENCY_H
#define LIBRARYCONSISTENCY_H

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include "core/track.h"

class manager;

// What the kill tests need to add a folder and to check that the library is
// whole: the rows' paths, the files of the library folder and a start of the
// program.  They run on the calling thread's connection.
namespace testkit {

// The browser's tracks for the media files of `folder` (ids from 50, in name
// order): one album `album` of id `albumId`, titled after the files.
TrackMap albumTracksOf(const QString &folder, const QString &album, int albumId);
// Starts an add of every track of `browser`, its one album (`albumId`) ticked.
void startAlbumAdd(manager &controller, const TrackMap &browser, int albumId);

// A car that plays aac and mp3, not flac: FLACs are converted, MP3s copied.
void useAacAndMp3Car();
// Starts the program on this test's data folder as a user would (its own
// StartUp, the window offscreen) in a process of its own, lets its start-up
// work end and closes it: what follows a kill or a power cut.  False when
// the start did not end well.  The test's main() hands the started process
// to runStartedProgram().
bool startTheProgram(const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());
// When the arguments are those startTheProgram() gives, runs the program's
// start and returns its exit code; else -1.
int runStartedProgram(int argc, char *argv[]);
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
