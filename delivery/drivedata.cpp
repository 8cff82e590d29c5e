#include "delivery/drivedata.h"

namespace {

template <typename T, typename Signal>
void store(DriveData *row, T &field, const T &value, Signal changed)
{
    if (field == value)
        return;
    field = value;
    emit (row->*changed)();
}

} // namespace

DriveData::DriveData(QObject *parent) : QObject(parent) {}

DriveData::DriveData(const QString &totalspace, const QString &freespace, const qint64 &isSystem,
                     const qint64 &freespace1, const QString &usedspace, const QString &driveletter,
                     const QString &filesystem, const QString &drivename, QObject *parent)
    : QObject(parent), m_totalspace(totalspace), m_freespace(freespace), m_isSystem(isSystem),
      m_freespace1(freespace1), m_usedspace(usedspace), m_driveletter(driveletter),
      m_filesystem(filesystem), m_drivename(drivename)
{
}

void DriveData::setTotalSpace(const QString &value) { store(this, m_totalspace, value, &DriveData::totalspaceChanged); }
void DriveData::setFreeSpace(const QString &value) { store(this, m_freespace, value, &DriveData::freespaceChanged); }
void DriveData::setisSystem(const qint64 &value) { store(this, m_isSystem, value, &DriveData::isSystemChanged); }
void DriveData::setFreeSpace1(const qint64 &value) { store(this, m_freespace1, value, &DriveData::freespace1Changed); }
void DriveData::setUsedSpace(const QString &value) { store(this, m_usedspace, value, &DriveData::usedspaceChanged); }
void DriveData::setDriveLetter(const QString &value) { store(this, m_driveletter, value, &DriveData::driveletterChanged); }
void DriveData::setFilesystem(const QString &value) { store(this, m_filesystem, value, &DriveData::filesystemChanged); }
void DriveData::setDriveName(const QString &value) { store(this, m_drivename, value, &DriveData::drivenameChanged); }
