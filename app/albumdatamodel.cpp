#include "app/albumdatamodel.h"

AlbumDataModel::AlbumDataModel(QObject *parent)
    : QObject(parent)
{ }

AlbumDataModel::AlbumDataModel(const int &albumid, const QString &albumname, const QString &artistname,
    const int &quality, const bool &selected, const bool &visibility, const QString &coverart, QObject *parent)
    : QObject(parent)
    , m_albumid(albumid)
    , m_albumname(albumname)
    , m_artistname(artistname)
    , m_quality(quality)
    , m_selected(selected)
    , m_visibility(visibility)
    , m_coverart(coverart)
{ }

int AlbumDataModel::albumid() const
{
    return m_albumid;
}

QString AlbumDataModel::albumname() const
{
    return m_albumname;
}

QString AlbumDataModel::artistname() const
{
    return m_artistname;
}

int AlbumDataModel::quality() const
{
    return m_quality;
}

bool AlbumDataModel::selected() const
{
    return m_selected;
}

bool AlbumDataModel::visibility() const
{
    return m_visibility;
}

QString AlbumDataModel::coverart() const
{
    return m_coverart;
}

void AlbumDataModel::setAlbumId(const int &albumid)
{
    if (m_albumid == albumid)
        return;
    m_albumid = albumid;
    emit albumidChanged();
}

void AlbumDataModel::setAlbumName(const QString &albumname)
{
    if (m_albumname == albumname)
        return;
    m_albumname = albumname;
    emit albumnameChanged();
}

void AlbumDataModel::setArtistName(const QString &artistname)
{
    if (m_artistname == artistname)
        return;
    m_artistname = artistname;
    emit artistnameChanged();
}

void AlbumDataModel::setQuality(const int &quality)
{
    if (m_quality == quality)
        return;
    m_quality = quality;
    emit qualityChanged();
}

void AlbumDataModel::setSelected(const bool &selected)
{
    if (m_selected == selected)
        return;
    m_selected = selected;
    emit selectedChanged();
}

void AlbumDataModel::setVisibility(const bool &visibility)
{
    if (m_visibility == visibility)
        return;
    m_visibility = visibility;
    emit visibilityChanged();
}

void AlbumDataModel::setCoverArt(const QString &coverart)
{
    if (m_coverart == coverart)
        return;
    m_coverart = coverart;
    emit coverartChanged();
}
