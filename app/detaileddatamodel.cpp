#include "app/detaileddatamodel.h"

DetailedDataModel::DetailedDataModel(QObject *parent)
    : QObject(parent)
{ }

DetailedDataModel::DetailedDataModel(const bool &selected, const bool &visibility, const int &trackid, const int &year,
    const QString &tracktitle, const QString &albumname, const QString &artistname, const QString &genre,
    QObject *parent)
    : QObject(parent)
    , m_selected(selected)
    , m_visibility(visibility)
    , m_trackid(trackid)
    , m_year(year)
    , m_tracktitle(tracktitle)
    , m_albumname(albumname)
    , m_artistname(artistname)
    , m_genre(genre)
{ }

bool DetailedDataModel::selected() const
{
    return m_selected;
}

bool DetailedDataModel::visibility() const
{
    return m_visibility;
}

int DetailedDataModel::trackid() const
{
    return m_trackid;
}

int DetailedDataModel::year() const
{
    return m_year;
}

QString DetailedDataModel::tracktitle() const
{
    return m_tracktitle;
}

QString DetailedDataModel::albumname() const
{
    return m_albumname;
}

QString DetailedDataModel::artistname() const
{
    return m_artistname;
}

QString DetailedDataModel::genre() const
{
    return m_genre;
}

void DetailedDataModel::setSelected(const bool &selected)
{
    if (m_selected == selected)
        return;
    m_selected = selected;
    emit selectedChanged();
}

void DetailedDataModel::setVisibility(const bool &visibility)
{
    if (m_visibility == visibility)
        return;
    m_visibility = visibility;
    emit visibilityChanged();
}

void DetailedDataModel::setTrackId(const int &trackid)
{
    if (m_trackid == trackid)
        return;
    m_trackid = trackid;
    emit trackidChanged();
}

void DetailedDataModel::setYear(const int &year)
{
    if (m_year == year)
        return;
    m_year = year;
    emit yearChanged();
}

void DetailedDataModel::setTrackTitle(const QString &tracktitle)
{
    if (m_tracktitle == tracktitle)
        return;
    m_tracktitle = tracktitle;
    emit tracktitleChanged();
}

void DetailedDataModel::setAlbumName(const QString &albumname)
{
    if (m_albumname == albumname)
        return;
    m_albumname = albumname;
    emit albumnameChanged();
}

void DetailedDataModel::setArtistName(const QString &artistname)
{
    if (m_artistname == artistname)
        return;
    m_artistname = artistname;
    emit artistnameChanged();
}

void DetailedDataModel::setGenre(const QString &genre)
{
    if (m_genre == genre)
        return;
    m_genre = genre;
    emit genreChanged();
}
