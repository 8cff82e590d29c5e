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
    bool overwriteall = false;
    bool overwritenewer = false;  // carried, not acted on by the copy
    bool overwritequality = false;  // replace only a file of lower bit rate
    SystemDetails system;
};

#endif // TRANSFERDETAIL_H
