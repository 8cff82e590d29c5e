#include "app/artistdatamodel.h"

ArtistDataModel::ArtistDataModel(QObject *parent)
    : QObject(parent)
{ }

ArtistDataModel::ArtistDataModel(const int &artistid, const int &albumcount, const int &trackcount,
    const QString &artistname, const int &quality, const bool &selected, const bool &visibility,
    const QStringList &coverart, QObject *parent)
    : QObject(parent)
    , m_artistid(artistid)
    , m_albumcount(albumcount)
    , m_trackcount(trackcount)
    , m_artistname(artistname)
    , m_quality(quality)
    , m_selected(selected)
    , m_visibility(visibility)
    , m_coverart(coverart)
{ }

int ArtistDataModel::artistid() const
{
    return m_artistid;
}
int ArtistDataModel::albumcount() const
{
    return m_albumcount;
}
int ArtistDataModel::trackcount() const
{
    return m_trackcount;
}
QString ArtistDataModel::artistname() const
{
    return m_artistname;
}
int ArtistDataModel::quality() const
{
    return m_quality;
}
bool ArtistDataModel::selected() const
{
    return m_selected;
}
bool ArtistDataModel::visibility() const
{
    return m_visibility;
}
QStringList ArtistDataModel::coverart() const
{
    return m_coverart;
}

void ArtistDataModel::setArtistId(const int &artistid)
{
    if (m_artistid == artistid)
        return;
    m_artistid = artistid;
    emit artistidChanged();
}

void ArtistDataModel::setAlbumCount(const int &albumcount)
{
    if (m_albumcount == albumcount)
        return;
    m_albumcount = albumcount;
    emit albumcountChanged();
}

void ArtistDataModel::setTrackCount(const int &trackcount)
{
    if (m_trackcount == trackcount)
        return;
    m_trackcount = trackcount;
    emit trackcountChanged();
}

void ArtistDataModel::setArtistName(const QString &artistname)
{
    if (m_artistname == artistname)
        return;
    m_artistname = artistname;
    emit artistnameChanged();
}

void ArtistDataModel::setQuality(const int &quality)
{
    if (m_quality == quality)
        return;
    m_quality = quality;
    emit qualityChanged();
}

void ArtistDataModel::setSelected(const bool &selected)
{
    if (m_selected == selected)
        return;
    m_selected = selected;
    emit selectedChanged();
}

void ArtistDataModel::setVisibility(const bool &visibility)
{
    if (m_visibility == visibility)
        return;
    m_visibility = visibility;
    emit visibilityChanged();
}

void ArtistDataModel::setCoverArt(const QStringList &coverart)
{
    // Nothing to add: nothing changed, so nothing is announced.
    if (coverart.isEmpty() || m_coverart.contains(coverart.first()))
        return;
    m_coverart.append(coverart);
    emit coverartChanged();
}
