#ifndef DRIVEDATA_H
#define DRIVEDATA_H

#include <QObject>
#include <QString>

// One target of the "Transfer and Sync" dialog as QML shows it: a mounted
// drive with its sizes, or a folder of the computer (isSystem 1, no sizes).
// driveletter is the key a target is found by again.
class DriveData : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString totalspace READ totalspace WRITE setTotalSpace NOTIFY totalspaceChanged)
    Q_PROPERTY(QString freespace READ freespace WRITE setFreeSpace NOTIFY freespaceChanged)
    Q_PROPERTY(qint64 isSystem READ isSystem WRITE setisSystem NOTIFY isSystemChanged)
    Q_PROPERTY(qint64 freespace1 READ freespace1 WRITE setFreeSpace1 NOTIFY freespace1Changed)
    Q_PROPERTY(QString usedspace READ usedspace WRITE setUsedSpace NOTIFY usedspaceChanged)
    Q_PROPERTY(QString driveletter READ driveletter WRITE setDriveLetter NOTIFY driveletterChanged)
    Q_PROPERTY(QString filesystem READ filesystem WRITE setFilesystem NOTIFY filesystemChanged)
    Q_PROPERTY(QString drivename READ drivename WRITE setDriveName NOTIFY drivenameChanged)

public:
    explicit DriveData(QObject *parent = nullptr);
    DriveData(const QString &totalspace, const QString &freespace, const qint64 &isSystem,
              const qint64 &freespace1, const QString &usedspace, const QString &driveletter,
              const QString &filesystem, const QString &drivename, QObject *parent = nullptr);

    QString totalspace() const { return m_totalspace; }
    QString freespace() const { return m_freespace; }
    qint64 isSystem() const { return m_isSystem; }
    qint64 freespace1() const { return m_freespace1; }
    QString usedspace() const { return m_usedspace; }
    QString driveletter() const { return m_driveletter; }
    QString filesystem() const { return m_filesystem; }
    QString drivename() const { return m_drivename; }

    void setTotalSpace(const QString &value);
    void setFreeSpace(const QString &value);
    void setisSystem(const qint64 &value);
    void setFreeSpace1(const qint64 &value);
    void setUsedSpace(const QString &value);
    void setDriveLetter(const QString &value);
    void setFilesystem(const QString &value);
    void setDriveName(const QString &value);

signals:
    void totalspaceChanged();
    void freespaceChanged();
    void isSystemChanged();
    void freespace1Changed();
    void usedspaceChanged();
    void driveletterChanged();
    void filesystemChanged();
    void drivenameChanged();

private:
    QString m_totalspace;
    QString m_freespace;
    qint64 m_isSystem = 0;
    qint64 m_freespace1 = 0;
    QString m_usedspace;
    QString m_driveletter;
    QString m_filesystem;
    QString m_drivename;
};

#endif // DRIVEDATA_H
