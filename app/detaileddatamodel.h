#ifndef DETAILEDDATAMODEL_H
#define DETAILEDDATAMODEL_H

#include <QList>
#include <QObject>
#include <QString>

// One line of a detail list (media-browser detail views, advanced-settings
// lists).  For a video line `year` holds the duration in whole seconds and
// `tracktitle` the file name.  Every setter emits only on a change.
class DetailedDataModel : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool selected READ selected WRITE setSelected NOTIFY selectedChanged)
    Q_PROPERTY(bool visibility READ visibility WRITE setVisibility NOTIFY visibilityChanged)
    Q_PROPERTY(int trackid READ trackid WRITE setTrackId NOTIFY trackidChanged)
    Q_PROPERTY(int year READ year WRITE setYear NOTIFY yearChanged)
    Q_PROPERTY(QString tracktitle READ tracktitle WRITE setTrackTitle NOTIFY tracktitleChanged)
    Q_PROPERTY(QString albumname READ albumname WRITE setAlbumName NOTIFY albumnameChanged)
    Q_PROPERTY(QString artistname READ artistname WRITE setArtistName NOTIFY artistnameChanged)
    Q_PROPERTY(QString genre READ genre WRITE setGenre NOTIFY genreChanged)

public:
    explicit DetailedDataModel(QObject *parent = nullptr);
    DetailedDataModel(const bool &selected, const bool &visibility, const int &trackid, const int &year,
        const QString &tracktitle, const QString &albumname, const QString &artistname, const QString &genre,
        QObject *parent = nullptr);

    bool selected() const;
    bool visibility() const;
    int trackid() const;
    int year() const;
    QString tracktitle() const;
    QString albumname() const;
    QString artistname() const;
    QString genre() const;

    void setSelected(const bool &selected);
    void setVisibility(const bool &visibility);
    void setTrackId(const int &trackid);
    void setYear(const int &year);
    void setTrackTitle(const QString &tracktitle);
    void setAlbumName(const QString &albumname);
    void setArtistName(const QString &artistname);
    void setGenre(const QString &genre);

signals:
    void selectedChanged();
    void visibilityChanged();
    void trackidChanged();
    void yearChanged();
    void tracktitleChanged();
    void albumnameChanged();
    void artistnameChanged();
    void genreChanged();

private:
    bool m_selected = false;
    bool m_visibility = true;
    int m_trackid = 0;
    int m_year = 0;
    QString m_tracktitle;
    QString m_albumname;
    QString m_artistname;
    QString m_genre;
};

#endif // DETAILEDDATAMODEL_H
