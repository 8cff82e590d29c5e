#ifndef TRACKLIST_H
#define TRACKLIST_H

#include <QList>
#include <QObject>
#include <QString>

// One track inside a TrackDataModel row.  Every setter emits only on a change.
// The duration is in whole seconds and never wraps.
class TrackList : public QObject
{
    Q_OBJECT
    Q_PROPERTY(int trackid READ trackid WRITE setTrackId NOTIFY trackidChanged)
    Q_PROPERTY(int trackno READ trackno WRITE setTrackNo NOTIFY tracknoChanged)
    Q_PROPERTY(int duration READ duration WRITE setDuration NOTIFY durationChanged)
    Q_PROPERTY(QString tracktitle READ tracktitle WRITE setTrackTitle NOTIFY tracktitleChanged)
    Q_PROPERTY(QString releasedate READ releasedate WRITE setReleaseDate NOTIFY releasedateChanged)
    Q_PROPERTY(QString artistname READ artistname WRITE setArtistName NOTIFY artistnameChanged)
    Q_PROPERTY(QString albumname READ albumname WRITE setAlbumName NOTIFY albumnameChanged)
    Q_PROPERTY(QString genre READ genre WRITE setGenre NOTIFY genreChanged)
    Q_PROPERTY(bool selected READ selected WRITE setSelected NOTIFY selectedChanged)
    Q_PROPERTY(QString track_path READ track_path WRITE setTrack_path NOTIFY track_pathChanged)

public:
    explicit TrackList(QObject *parent = nullptr);
    TrackList(const int &trackid, const int &trackno, const int &duration, const QString &tracktitle,
        const QString &releasedate, const QString &artistname, const QString &albumname, const QString &genre,
        const bool &selected, const QString &track_path, QObject *parent = nullptr);

    int trackid() const;
    int trackno() const;
    int duration() const;
    QString tracktitle() const;
    QString releasedate() const;
    QString artistname() const;
    QString albumname() const;
    QString genre() const;
    bool selected() const;
    QString track_path() const;

    void setTrackId(const int &trackid);
    void setTrackNo(const int &trackno);
    void setDuration(const int &duration);
    void setTrackTitle(const QString &tracktitle);
    void setReleaseDate(const QString &releasedate);
    void setArtistName(const QString &artistname);
    void setAlbumName(const QString &albumname);
    void setGenre(const QString &genre);
    void setSelected(const bool &selected);
    void setTrack_path(const QString &track_path);

signals:
    void trackidChanged();
    void tracknoChanged();
    void durationChanged();
    void tracktitleChanged();
    void releasedateChanged();
    void artistnameChanged();
    void albumnameChanged();
    void genreChanged();
    void selectedChanged();
    void track_pathChanged();

private:
    int m_trackid = 0;
    int m_trackno = 0;
    int m_duration = 0;
    QString m_tracktitle;
    QString m_releasedate;
    QString m_artistname;
    QString m_albumname;
    QString m_genre;
    bool m_selected = false;
    QString m_track_path;
};

#endif // TRACKLIST_H
