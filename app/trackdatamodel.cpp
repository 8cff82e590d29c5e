#include "app/trackdatamodel.h"

#include <algorithm>

#include "app/tracklist.h"

TrackDataModel::TrackDataModel(QObject *parent)
    : QObject(parent)
{ }

TrackDataModel::TrackDataModel(const int &albumid, const QString &albumname, const QString &artistname,
    const QString &genre, const int &year, const bool &selected, const bool &visibility, const QString &coverart,
    const QList<QObject *> &tracklist, QObject *parent)
    : QObject(parent)
    , m_albumid(albumid)
    , m_albumname(albumname)
    , m_artistname(artistname)
    , m_genre(genre)
    , m_year(year)
    , m_selected(selected)
    , m_visibility(visibility)
    , m_coverart(coverart)
    , m_tracklist(tracklist)
{ }

TrackDataModel::TrackDataModel(int albumid, const QString &albumname, const QString &artistname, const QString &genre,
                               int year, bool selected, bool visibility, const QString &coverart, QList<Line> lines,
                               QObject *parent)
    : QObject(parent), m_albumid(albumid), m_albumname(albumname), m_artistname(artistname), m_genre(genre),
      m_year(year), m_selected(selected), m_visibility(visibility), m_coverart(coverart), m_lines(std::move(lines))
{
}

int TrackDataModel::albumid() const
{
    return m_albumid;
}

QString TrackDataModel::albumname() const
{
    return m_albumname;
}

QString TrackDataModel::artistname() const
{
    return m_artistname;
}

QString TrackDataModel::genre() const
{
    return m_genre;
}

int TrackDataModel::year() const
{
    return m_year;
}

bool TrackDataModel::selected() const
{
    return m_selected;
}

bool TrackDataModel::visibility() const
{
    return m_visibility;
}

QString TrackDataModel::coverart() const
{
    return m_coverart;
}

QList<QObject *> TrackDataModel::tracklist() const
{
    if (!m_lines.isEmpty()) {
        auto *self = const_cast<TrackDataModel *>(this); // the lines' parent
        m_tracklist.reserve(m_lines.size());
        for (const Line &line : std::as_const(m_lines)) {
            m_tracklist.append(new TrackList(line.trackid, line.trackno, line.duration, line.tracktitle,
                                             line.releasedate, line.artistname, line.albumname, line.genre,
                                             line.selected, line.track_path, self));
        }
        m_lines.clear();
    }
    if (m_shownLines == allLines)
        return m_tracklist;
    QList<QObject *> shown;
    for (qsizetype place = 0; place < m_tracklist.size(); ++place) {
        if (lineShown(place))
            shown.append(m_tracklist.at(place));
    }
    return shown;
}

QList<std::pair<int, bool>> TrackDataModel::trackTicks() const
{
    QList<std::pair<int, bool>> ticks;
    if (!m_lines.isEmpty()) {
        ticks.reserve(m_lines.size());
        for (qsizetype place = 0; place < m_lines.size(); ++place) {
            if (lineShown(place))
                ticks.append({m_lines.at(place).trackid, m_lines.at(place).selected});
        }
        return ticks;
    }
    ticks.reserve(m_tracklist.size());
    for (qsizetype place = 0; place < m_tracklist.size(); ++place) {
        const auto *entry = qobject_cast<const TrackList *>(m_tracklist.at(place));
        if (entry && lineShown(place))
            ticks.append({entry->trackid(), entry->selected()});
    }
    return ticks;
}

bool TrackDataModel::anyTrackTicked() const
{
    if (!m_lines.isEmpty()) {
        for (qsizetype place = 0; place < m_lines.size(); ++place) {
            if (m_lines.at(place).selected && lineShown(place))
                return true;
        }
        return false;
    }
    for (qsizetype place = 0; place < m_tracklist.size(); ++place) {
        const auto *entry = qobject_cast<const TrackList *>(m_tracklist.at(place));
        if (entry && entry->selected() && lineShown(place))
            return true;
    }
    return false;
}

bool TrackDataModel::setTrackTicks(const QSet<int> &ticked)
{
    // Hidden tracks keep their ticks: they are set again when shown.
    bool all = true;
    bool any = false;
    if (!m_lines.isEmpty()) {
        for (qsizetype place = 0; place < m_lines.size(); ++place) {
            if (!lineShown(place))
                continue;
            Line &line = m_lines[place];
            line.selected = ticked.contains(line.trackid);
            all = all && line.selected;
            any = true;
        }
        return all && any;
    }
    for (qsizetype place = 0; place < m_tracklist.size(); ++place) {
        auto *entry = qobject_cast<TrackList *>(m_tracklist.at(place));
        if (!entry || !lineShown(place))
            continue;
        const bool on = ticked.contains(entry->trackid());
        entry->setSelected(on);
        all = all && on;
        any = true;
    }
    return all && any;
}

void TrackDataModel::setShownLines(quint32 lines)
{
    if (m_shownLines == lines)
        return;
    m_shownLines = lines;
    emit tracklistChanged();
}

void TrackDataModel::setAlbumId(const int &albumid)
{
    if (m_albumid == albumid)
        return;
    m_albumid = albumid;
    emit albumidChanged();
}

void TrackDataModel::setAlbumName(const QString &albumname)
{
    if (m_albumname == albumname)
        return;
    m_albumname = albumname;
    emit albumnameChanged();
}

void TrackDataModel::setArtistName(const QString &artistname)
{
    if (m_artistname == artistname)
        return;
    m_artistname = artistname;
    emit artistnameChanged();
}

void TrackDataModel::setGenre(const QString &genre)
{
    if (m_genre == genre)
        return;
    m_genre = genre;
    emit genreChanged();
}

void TrackDataModel::setYear(const int &year)
{
    if (m_year == year)
        return;
    m_year = year;
    emit yearChanged();
}

void TrackDataModel::setSelected(const bool &selected)
{
    if (m_selected == selected)
        return;
    m_selected = selected;
    emit selectedChanged();
}

void TrackDataModel::setVisibility(const bool &visibility)
{
    if (m_visibility == visibility)
        return;
    m_visibility = visibility;
    emit visibilityChanged();
}

void TrackDataModel::setCoverArt(const QString &coverart)
{
    if (m_coverart == coverart)
        return;
    m_coverart = coverart;
    emit coverartChanged();
}

void TrackDataModel::setTrackList(const QList<QObject *> &tracklist)
{
    if (tracklist == TrackDataModel::tracklist())
        return;
    m_tracklist = tracklist;
    emit tracklistChanged();
}
