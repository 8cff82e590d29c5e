#ifndef DETAILSFILINGSYSTEM_H
#define DETAILSFILINGSYSTEM_H

#include <QString>

// A file system the car reads from its drive, with its limits.
struct DetailsFilingSystem
{
    quint32 maxFilesPerFolder = 0;
    quint32 maxPartitionSize = 0;  // gigabytes
    quint32 maxPartitions = 0;
    quint32 maxFileSize = 0;
    qint32 maxFiles = 0;           // files one disk may hold
    QString name;
};

#endif // DETAILSFILINGSYSTEM_H
