#ifndef VIDEOOPTIMISATIONMODEL_H
#define VIDEOOPTIMISATIONMODEL_H

#include <QList>
#include <QObject>
#include <QString>

// One video of the running video optimisation.  `status` is 0 when the row
// is made; later values come from QML.  Every setter emits only on a change.
class VideoOptimisationModel : public QObject
{
    Q_OBJECT
    Q_PROPERTY(int trackid READ trackid WRITE setTrackId NOTIFY trackidChanged)
    Q_PROPERTY(int duration READ duration WRITE setDuration NOTIFY durationChanged)
    Q_PROPERTY(int status READ status WRITE setStatus NOTIFY statusChanged)
    Q_PROPERTY(QString trackname READ trackname WRITE setTrackName NOTIFY tracknameChanged)

public:
    explicit VideoOptimisationModel(QObject *parent = nullptr);
    VideoOptimisationModel(const int &trackid, const int &duration, const int &status, const QString &trackname,
        QObject *parent = nullptr);

    int trackid() const;
    int duration() const;
    int status() const;
    QString trackname() const;

    void setTrackId(const int &trackid);
    void setDuration(const int &duration);
    void setStatus(const int &status);
    void setTrackName(const QString &trackname);

signals:
    void trackidChanged();
    void durationChanged();
    void statusChanged();
    void tracknameChanged();

private:
    int m_trackid = 0;
    int m_duration = 0;
    int m_status = 0;
    QString m_trackname;
};

#endif // VIDEOOPTIMISATIONMODEL_H
