#include "app/tracklist.h"

TrackList::TrackList(QObject *parent)
    : QObject(parent)
{ }

TrackList::TrackList(const int &trackid, const int &trackno, const int &duration, const QString &tracktitle,
    const QString &releasedate, const QString &artistname, const QString &albumname, const QString &genre,
    const bool &selected, const QString &track_path, QObject *parent)
    : QObject(parent)
    , m_trackid(trackid)
    , m_trackno(trackno)
    , m_duration(duration)
    , m_tracktitle(tracktitle)
    , m_releasedate(releasedate)
    , m_artistname(artistname)
    , m_albumname(albumname)
    , m_genre(genre)
    , m_selected(selected)
    , m_track_path(track_path)
{ }

int TrackList::trackid() const
{
    return m_trackid;
}

int TrackList::trackno() const
{
    return m_trackno;
}

int TrackList::duration() const
{
    return m_duration;
}

QString TrackList::tracktitle() const
{
    return m_tracktitle;
}

QString TrackList::releasedate() const
{
    return m_releasedate;
}

QString TrackList::artistname() const
{
    return m_artistname;
}

QString TrackList::albumname() const
{
    return m_albumname;
}

QString TrackList::genre() const
{
    return m_genre;
}

bool TrackList::selected() const
{
    return m_selected;
}

QString TrackList::track_path() const
{
    return m_track_path;
}

void TrackList::setTrackId(const int &trackid)
{
    if (m_trackid == trackid)
        return;
    m_trackid = trackid;
    emit trackidChanged();
}

void TrackList::setTrackNo(const int &trackno)
{
    if (m_trackno == trackno)
        return;
    m_trackno = trackno;
    emit tracknoChanged();
}

void TrackList::setDuration(const int &duration)
{
    if (m_duration == duration)
        return;
    m_duration = duration;
    emit durationChanged();
}

void TrackList::setTrackTitle(const QString &tracktitle)
{
    if (m_tracktitle == tracktitle)
        return;
    m_tracktitle = tracktitle;
    emit tracktitleChanged();
}

void TrackList::setReleaseDate(const QString &releasedate)
{
    if (m_releasedate == releasedate)
        return;
    m_releasedate = releasedate;
    emit releasedateChanged();
}

void TrackList::setArtistName(const QString &artistname)
{
    if (m_artistname == artistname)
        return;
    m_artistname = artistname;
    emit artistnameChanged();
}

void TrackList::setAlbumName(const QString &albumname)
{
    if (m_albumname == albumname)
        return;
    m_albumname = albumname;
    emit albumnameChanged();
}

void TrackList::setGenre(const QString &genre)
{
    if (m_genre == genre)
        return;
    m_genre = genre;
    emit genreChanged();
}

void TrackList::setSelected(const bool &selected)
{
    if (m_selected == selected)
        return;
    m_selected = selected;
    emit selectedChanged();
}

void TrackList::setTrack_path(const QString &track_path)
{
    if (m_track_path == track_path)
        return;
    m_track_path = track_path;
    emit track_pathChanged();
}
