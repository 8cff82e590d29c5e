#include "core/videometadata.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <taglib/asffile.h>
#include <taglib/mp4file.h>

#include "core/probeoutput.h"
#include "platform/atomicfile.h"
#include "platform/externalprogram.h"

namespace {
// Whole seconds from TagLib's reader for the kinds it knows; 0 for an
// encrypted or unreadable file.
template<typename File>
double taglibSeconds(const QString &path)
{
    File file(QFile::encodeName(path).constData(), true, TagLib::AudioProperties::Average);
    const auto *properties = file.isValid() ? file.audioProperties() : nullptr;
    if (!properties || properties->isEncrypted())
        return 0;
    return properties->lengthInSeconds();
}
} // namespace

VideoMetadata::VideoMetadata(QObject *parent)
    : QObject(parent)
{
}

track VideoMetadata::getVideoMetadata(QString path, short probe, double knownSeconds)
{
    const QFileInfo info(path);
    const QString suffix = info.suffix().toLower();

    duration = 0;
    if (suffix == QLatin1String("wmv"))
        duration = taglibSeconds<TagLib::ASF::File>(path);
    else if (suffix == QLatin1String("mp4") || suffix == QLatin1String("m4v"))
        duration = taglibSeconds<TagLib::MP4::File>(path);
    else if (probe != 0)
        duration = getDuration(path);
    if (duration <= 0 && knownSeconds > 0)
        duration = knownSeconds;

    const QString folder = shared::dataLocation() + sha.videoArtworkPath;
    const QString thumbnail = thumbnailPathFor(path, folder);
    if (!QFileInfo::exists(thumbnail))
        getCoverArt(path, thumbnail, folder);

    track record;
    record.duration = duration;
    record.cover = thumbnail;
    return record;
}

double VideoMetadata::getDuration(QString path)
{
    duration = 0;
    const ExternalProgram::Result probe =
        ExternalProgram(ExternalProgram::Ffprobe).run({QStringLiteral("-show_streams"), path}, probeTimeoutMs);
    // Whatever a stopped or timed-out probe printed is still worth reading.
    duration = ProbeOutput::videoStreamDuration(ProbeOutput::text(probe.standardOutput));
    if (duration > 0)
        return duration;

    // ffmpeg with only an input exits 1 ("no output given"): the report on
    // standard error is what counts, not the exit code.
    ExternalProgram ffmpeg(ExternalProgram::Ffmpeg);
    ffmpeg.setMergedChannels(true);
    const ExternalProgram::Result report = ffmpeg.run({QStringLiteral("-i"), path}, probeTimeoutMs);
    infoReport = report.finished() ? report.standardOutput : QByteArray();
    ffmpeg_Information_Output();
    return duration;
}

void VideoMetadata::ffmpeg_Information_Output()
{
    const QString report = ProbeOutput::text(infoReport);
    if (!report.contains(QLatin1String("Duration")))
        return;
    durationText = ProbeOutput::durationText(report);
    if (!durationText.isEmpty())
        duration = sha.convertToSec(durationText);
}

QString VideoMetadata::getCoverArt(QString videoPath, QString thumbnailPath, QString folder)
{
    if (!QDir().mkpath(folder)) {
        qDebug() << "- VideoMetadata cannot create" << folder;
        return thumbnailPath;
    }

    // ffmpeg writes the program's temporary file beside the thumbnail, which
    // takes its name only when complete: an interrupted run must not leave a
    // half picture that would be reused forever, and what a killed run left
    // is swept at the next start.  The picture is synced before the row that
    // names it is stored.  Another scan may have made the same thumbnail
    // meanwhile; its file stays.
    AtomicFile out(thumbnailPath, AtomicFile::Replace::Never, AtomicFile::Flush::Now, QStringLiteral("png"));
    const QString partial = out.temporaryPath();
    QStringList arguments{QStringLiteral("-i"), videoPath, QStringLiteral("-r"), QStringLiteral("1")};
    if (duration > 15)
        arguments << QStringLiteral("-ss") << QStringLiteral("00:00:15");
    // -update 1: a single picture, its name taken literally (no %d pattern).
    arguments << QStringLiteral("-t") << QStringLiteral("00:00:01") << QStringLiteral("-f") << QStringLiteral("image2")
              << QStringLiteral("-update") << QStringLiteral("1") << partial;

    ExternalProgram ffmpeg(ExternalProgram::Ffmpeg);
    ffmpeg.setMergedChannels(true);
    const ExternalProgram::Result result = ffmpeg.run(arguments, thumbnailTimeoutMs);
    if (result.succeeded() && QFileInfo(partial).size() > 0) {
        out.commit();
    } else {
        qDebug() << "- VideoMetadata no thumbnail for" << videoPath << result.errorText
                 << ProbeOutput::text(result.standardOutput).right(300);
    }
    return thumbnailPath;
}

QString VideoMetadata::thumbnailPathFor(const QString &videoPath, const QString &folder)
{
    const QFileInfo info(videoPath);
    QString name = info.fileName();
    const QString suffix = info.suffix();
    if (!suffix.isEmpty())
        name.remove(QLatin1Char('.') + suffix, Qt::CaseSensitive);
    // Videos of the same name in different folders each get their own.
    const QByteArray where = QCryptographicHash::hash(QDir::cleanPath(info.absoluteFilePath()).toUtf8(),
                                                      QCryptographicHash::Sha1);
    return folder + QLatin1Char('/') + name + QLatin1Char('-') + QString::fromLatin1(where.toHex().left(10))
           + QStringLiteral(".png");
}
