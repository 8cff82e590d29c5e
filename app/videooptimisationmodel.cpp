#include "app/videooptimisationmodel.h"

VideoOptimisationModel::VideoOptimisationModel(QObject *parent)
    : QObject(parent)
{ }

VideoOptimisationModel::VideoOptimisationModel(
    const int &trackid, const int &duration, const int &status, const QString &trackname, QObject *parent)
    : QObject(parent)
    , m_trackid(trackid)
    , m_duration(duration)
    , m_status(status)
    , m_trackname(trackname)
{ }

int VideoOptimisationModel::trackid() const
{
    return m_trackid;
}

int VideoOptimisationModel::duration() const
{
    return m_duration;
}

int VideoOptimisationModel::status() const
{
    return m_status;
}

QString VideoOptimisationModel::trackname() const
{
    return m_trackname;
}

void VideoOptimisationModel::setTrackId(const int &trackid)
{
    if (m_trackid == trackid)
        return;
    m_trackid = trackid;
    emit trackidChanged();
}

void VideoOptimisationModel::setDuration(const int &duration)
{
    if (m_duration == duration)
        return;
    m_duration = duration;
    emit durationChanged();
}

void VideoOptimisationModel::setStatus(const int &status)
{
    if (m_status == status)
        return;
    m_status = status;
    emit statusChanged();
}

void VideoOptimisationModel::setTrackName(const QString &trackname)
{
    if (m_trackname == trackname)
        return;
    m_trackname = trackname;
    emit tracknameChanged();
}
