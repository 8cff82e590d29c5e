#ifndef TRANSFERDETAIL_H
#define TRANSFERDETAIL_H

#include <QString>

#include "delivery/systemdetails.h"

// The settings one copy or transcode job receives, copied whole into the job.
// The profile is held by value: choosing another vehicle while the job runs
// doesn't change what the job reads.
struct transferDetail
{
    QString drivePath;      // mount path of the drive or the chosen folder
    qint64 freeSpace = 0;   // byte budget of the copy
    bool isSystem = false;  // the target is a folder of the computer
    bool overwriteall = false;     // replace the file holding the same song
    bool overwritenewer = false;   // replace it when the library's file is newer
    bool overwritequality = false; // replace it when its bit rate is lower
    SystemDetails system;
};

#endif // TRANSFERDETAIL_H
