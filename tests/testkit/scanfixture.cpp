#include "scanfixture.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include "core/shared.h"
#include "core/track_data.h"
#include "libraryfixture.h"

namespace testkit {

bool resetScanState()
{
    track_data::track_Id = track_data::album_Id = track_data::artist_Id = 1;
    track_data::album_map.clear();
    track_data::artist_map.clear();
    track_data::track_obj_map.clear();
    shared().clearMixedAlbumsFolderMap();
    bool ok = QDir(shared::dataLocation() + shared().artworkPath).removeRecursively();
    for (const char *table : {"TrackRepo", "artistsRepo", "albumsRepo", "genres", "years"})
        ok = exec(QStringLiteral("DELETE FROM %1").arg(QLatin1String(table))) && ok;
    return ok;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray audioMd5(const QString &path)
{
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), {"-v", "error", "-nostdin", "-i", path, "-map", "0:a:0", "-f", "md5", "-"});
    if (!ffmpeg.waitForFinished(60000) || ffmpeg.exitStatus() != QProcess::NormalExit || ffmpeg.exitCode() != 0)
        return QByteArray();
    return ffmpeg.readAllStandardOutput().trimmed();
}

bool closeColour(const QColor &got, const QColor &want)
{
    // ffmpeg's colour conversion is off by a step or two.
    return qAbs(got.red() - want.red()) + qAbs(got.green() - want.green()) + qAbs(got.blue() - want.blue()) < 60;
}

TrackMap scannedTracks(const QStringList &rows)
{
    TrackMap tracks;
    for (const QString &fields : rows) {
        const QStringList f = fields.split(QLatin1Char('|'));
        track t;
        t.id = int(tracks.size()) + 1;
        t.album_id = t.artist_id = 2;
        t.albumName = f.value(0);
        t.artistName = f.value(1);
        t.trackname = f.value(2);
        t.isPodcast = f.value(3) == QLatin1String("p");
        t.isVideo = f.value(3) == QLatin1String("v");
        t.filename = t.trackname + QStringLiteral(".mp4");
        t.filepath = QStringLiteral("/media/") + t.filename;
        tracks.insert(t.id, t);
    }
    return tracks;
}

} // namespace testkit
