#ifndef TRACKDATAMODEL_H
#define TRACKDATAMODEL_H

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

// One row of a grouped track view: an album, playlist or podcast group is
// shown as rows of at most six tracks.  The row's TrackList objects are held
// in `tracklist`; the row does not own the ones it is given.  A row built
// from Line records makes its TrackList objects (its own children) when
// `tracklist` is first read: a view of 100,000 tracks shows a few dozen.
// Every setter emits only on a change (`tracklist` compares element by
// element).  `grouprows` of a group's first row is the number of rows of the
// group (0 on the others, and where no one said): a view can then find its
// groups by reading their first rows alone.  A search may show some of a
// row's tracks only (setShownLines): `tracklist`, the ticks read and set
// here and a whole row's tick are then of those tracks alone.
class TrackDataModel : public QObject
{
    Q_OBJECT
    Q_PROPERTY(int albumid READ albumid WRITE setAlbumId NOTIFY albumidChanged)
    Q_PROPERTY(QString albumname READ albumname WRITE setAlbumName NOTIFY albumnameChanged)
    Q_PROPERTY(QString artistname READ artistname WRITE setArtistName NOTIFY artistnameChanged)
    Q_PROPERTY(QString genre READ genre WRITE setGenre NOTIFY genreChanged)
    Q_PROPERTY(int year READ year WRITE setYear NOTIFY yearChanged)
    Q_PROPERTY(bool selected READ selected WRITE setSelected NOTIFY selectedChanged)
    Q_PROPERTY(bool visibility READ visibility WRITE setVisibility NOTIFY visibilityChanged)
    Q_PROPERTY(QString coverart READ coverart WRITE setCoverArt NOTIFY coverartChanged)
    Q_PROPERTY(QList<QObject *> tracklist READ tracklist WRITE setTrackList NOTIFY tracklistChanged)
    Q_PROPERTY(int grouprows READ grouprows CONSTANT)

public:
    // One track of the row, as its TrackList will carry it.
    struct Line
    {
        int trackid = 0;
        int trackno = 0;
        int duration = 0;
        QString tracktitle;
        QString releasedate;
        QString artistname;
        QString albumname;
        QString genre;
        bool selected = false;
        QString track_path;
    };

    explicit TrackDataModel(QObject *parent = nullptr);
    TrackDataModel(const int &albumid, const QString &albumname, const QString &artistname, const QString &genre,
        const int &year, const bool &selected, const bool &visibility, const QString &coverart,
        const QList<QObject *> &tracklist, QObject *parent = nullptr);
    TrackDataModel(int albumid, const QString &albumname, const QString &artistname, const QString &genre, int year,
                   bool selected, bool visibility, const QString &coverart, QList<Line> lines,
                   QObject *parent = nullptr);

    int albumid() const;
    QString albumname() const;
    QString artistname() const;
    QString genre() const;
    int year() const;
    bool selected() const;
    bool visibility() const;
    QString coverart() const;
    QList<QObject *> tracklist() const;
    // The ids of the row's tracks with their ticks, read without making
    // their TrackList objects.
    QList<std::pair<int, bool>> trackTicks() const;
    bool anyTrackTicked() const;
    // Ticks the tracks whose ids `ticked` holds and unticks the others (made
    // TrackList objects through their setters); true when all are ticked.
    bool setTrackTicks(const QSet<int> &ticked);
    int grouprows() const { return m_grouprows; }

    void setAlbumId(const int &albumid);
    void setAlbumName(const QString &albumname);
    void setArtistName(const QString &artistname);
    void setGenre(const QString &genre);
    void setYear(const int &year);
    void setSelected(const bool &selected);
    void setVisibility(const bool &visibility);
    void setCoverArt(const QString &coverart);
    void setTrackList(const QList<QObject *> &tracklist);
    // Before the row is published: it never changes once QML reads it.
    void setGroupRows(int rows) { m_grouprows = rows; }
    // The row's tracks shown, by place in the row (bit i: track i); tracks
    // from place 32 on are always shown.
    static constexpr quint32 allLines = ~quint32(0);
    void setShownLines(quint32 lines);
    quint32 shownLines() const { return m_shownLines; }

signals:
    void albumidChanged();
    void albumnameChanged();
    void genreChanged();
    void artistnameChanged();
    void yearChanged();
    void selectedChanged();
    void visibilityChanged();
    void coverartChanged();
    void tracklistChanged();

private:
    int m_albumid = 0;
    QString m_albumname;
    QString m_artistname;
    QString m_genre;
    int m_year = 0;
    bool m_selected = false;
    bool m_visibility = true;
    QString m_coverart;
    int m_grouprows = 0;
    quint32 m_shownLines = allLines;
    bool lineShown(qsizetype place) const { return place >= 32 || (m_shownLines >> place & 1u); }
    // Made from m_lines (then emptied) on the first read.
    mutable QList<QObject *> m_tracklist;
    mutable QList<Line> m_lines;
};

#endif // TRACKDATAMODEL_H
