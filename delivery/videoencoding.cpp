#include "delivery/videoencoding.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QMutexLocker>
#include <QRegularExpression>

#include <climits>
#include <cmath>
#include <cstdio>

#include "core/probeoutput.h"
#include "core/videometadata.h"
#include "database/filejournal.h"
#include "database/ruvodb.h"
#include "delivery/madefiles.h"
#include "platform/atomicfile.h"
#include "platform/externalprogram.h"

Q_LOGGING_CATEGORY(lcVideo, "corvane.delivery.video")

namespace {

constexpr int probeTimeoutMs = 30000;
constexpr qint64 boxWidth = 1024;
constexpr qint64 boxHeight = 600;
// Keeps the picture within the car screen, aspect kept, both sides even
// (libx264 refuses odd sides with 4:2:0).
const QString boxFilter = QStringLiteral("scale=1024:600:force_original_aspect_ratio=decrease:force_divisible_by=2");
// A picture within the screen with an odd side loses one line or column.
const QString evenFilter = QStringLiteral("scale=trunc(iw/2)*2:trunc(ih/2)*2");

// "N/D" as whole frames per second when N >= 2 and D >= 1, else `keep`.
qint64 frameRate(const QString &value, qint64 keep)
{
    const int slash = value.indexOf(QLatin1Char('/'));
    const qint64 n = value.left(slash).trimmed().toLongLong();
    const qint64 d = slash < 0 ? 0 : value.mid(slash + 1).trimmed().toLongLong();
    return n >= 2 && d >= 1 ? n / d : keep;
}

// The size ffmpeg gives the picture with the filters above.
void outputSize(const VideoDetails &video, qint64 &w, qint64 &h)
{
    if (video.width <= 0 || video.height <= 0) {
        w = boxWidth;
        h = boxHeight;
        return;
    }
    w = video.width;
    h = video.height;
    if (w > boxWidth || h > boxHeight) {
        const double scale = std::min(double(boxWidth) / double(w), double(boxHeight) / double(h));
        w = qint64(std::floor(double(w) * scale));
        h = qint64(std::floor(double(h) * scale));
    }
    w = std::max<qint64>(2, w & ~qint64(1));
    h = std::max<qint64>(2, h & ~qint64(1));
}

} // namespace

VideoEncoding::VideoEncoding(QObject *parent) : QThread(parent)
{
    registerTrackMetaTypes();
}

VideoEncoding::~VideoEncoding()
{
    // Every step of a run looks at the flag; a running ffmpeg is asked to
    // quit and killed after its grace period, so this wait is short.
    cancelled = true;
    wait();
}

// ---- Readers ----------------------------------------------------------------

VideoDetails VideoEncoding::parseStreams(const QString &showStreams, const std::function<double()> &durationProbe)
{
    VideoDetails facts;
    VideoDetails beforeStream; // the facts as they were when this stream began
    bool attachedPicture = false;
    QString codecName;
    QString codecType;
    const QStringList lines = showStreams.split(QLatin1Char('\n'));
    for (const QString &raw : lines) {
        const QString line = raw.endsWith(QLatin1Char('\r')) ? raw.chopped(1) : raw;
        if (line.trimmed() == QLatin1String("[STREAM]")) {
            beforeStream = facts;
            attachedPicture = false;
            continue;
        }
        if (line.trimmed() == QLatin1String("[/STREAM]")) {
            // A cover picture shows as a video stream: it is not the video.
            if (attachedPicture && codecType == QLatin1String("video"))
                facts = beforeStream;
            continue;
        }
        const int equals = line.indexOf(QLatin1Char('='));
        if (equals < 0)
            continue;
        const QString key = line.left(equals).toLower();
        QString value = line.mid(equals + 1);
        const bool isVideo = codecType == QLatin1String("video");
        if (key == QLatin1String("codec_name")) {
            codecName = value;
        } else if (key == QLatin1String("codec_type")) {
            codecType = value;
            if (codecType == QLatin1String("audio"))
                facts.audioCodec = codecName;
            else if (codecType == QLatin1String("video"))
                facts.videoCodec = codecName;
        } else if (key == QLatin1String("disposition:attached_pic")) {
            attachedPicture = value.trimmed() == QLatin1String("1");
        } else if (isVideo && key == QLatin1String("r_frame_rate")) {
            facts.r_frame_rate = frameRate(value, facts.r_frame_rate);
        } else if (isVideo && key == QLatin1String("avg_frame_rate")) {
            facts.avg_frame_rate = frameRate(value, facts.avg_frame_rate);
        } else if (isVideo && key == QLatin1String("width")) {
            facts.width = value.toLongLong();
        } else if (isVideo && key == QLatin1String("height")) {
            facts.height = value.toLongLong();
        } else if (codecType == QLatin1String("audio") && key == QLatin1String("channels")) {
            facts.channels = value.toLongLong();
        } else if (isVideo && key == QLatin1String("duration")) {
            bool ok = false;
            facts.duration = value.toDouble(&ok);
            if (!ok || !std::isfinite(facts.duration))
                facts.duration = 0;
            if (facts.duration < 1.0 && durationProbe)
                facts.duration = durationProbe();
        } else if (isVideo && key == QLatin1String("nb_frames")) {
            if (value.trimmed() == QLatin1String("N/A")) {
                if (facts.r_frame_rate >= 1)
                    value = QString::number(qint64(double(facts.r_frame_rate) * facts.duration));
                else if (facts.avg_frame_rate > 0)
                    value = QString::number(qint64(double(facts.avg_frame_rate) * facts.duration));
                else
                    value = QStringLiteral("0");
            }
            facts.nb_frames = value.toLongLong();
        }
    }
    return facts;
}

VideoEncoding::ProgressLine VideoEncoding::parseProgressLine(const QString &line)
{
    static const QRegularExpression frameRe(QStringLiteral("frame=\\s*(\\d+)"));
    static const QRegularExpression fpsRe(QStringLiteral("fps=\\s*(\\d+)"));
    static const QRegularExpression timeRe(QStringLiteral("time=\\s*(-?)(\\d+):(\\d+):(\\d+(?:\\.\\d+)?)"));
    ProgressLine result;
    const QRegularExpressionMatch frame = frameRe.match(line);
    const QRegularExpressionMatch time = timeRe.match(line);
    if (!frame.hasMatch() || !time.hasMatch())
        return result;
    result.valid = true;
    result.frame = frame.captured(1).toLongLong();
    const double seconds =
        time.captured(2).toDouble() * 3600 + time.captured(3).toDouble() * 60 + time.captured(4).toDouble();
    result.seconds = time.captured(1).isEmpty() ? seconds : 0;
    const QRegularExpressionMatch fps = fpsRe.match(line);
    if (fps.hasMatch())
        result.fps = fps.captured(1).toLongLong();
    return result;
}

int VideoEncoding::progressPercent(double doneSeconds, double totalSeconds)
{
    const qint64 t = qint64(std::floor(doneSeconds));
    const qint64 d = qint64(std::floor(std::max(0.0, totalSeconds)));
    if (t <= 1)
        return -1;
    const float share = float(t) / float(std::max(t, d));
    return std::min(100, int(std::floor(share * 100.0f)));
}

bool VideoEncoding::fitsCarScreen(const VideoDetails &video, const QString &sourcePath)
{
    return QFileInfo(sourcePath).suffix().toLower() == QLatin1String("mp4") &&
           video.videoCodec.trimmed() == QLatin1String("h264") && video.audioCodec.trimmed() == QLatin1String("aac") &&
           video.width <= boxWidth && video.height <= boxHeight;
}

QString VideoEncoding::h264Level(qint64 width, qint64 height, qint64 framesPerSecond)
{
    struct Level
    {
        const char *name;
        qint64 frameSize; // macroblocks per frame
        qint64 rate;      // macroblocks per second
    };
    static const Level levels[] = {{"3.0", 1620, 40500},   {"3.1", 3600, 108000},  {"3.2", 5120, 216000},
                                   {"4.0", 8192, 245760},  {"4.2", 8704, 522240},  {"5.0", 22080, 589824},
                                   {"5.1", 36864, 983040}, {"5.2", 36864, 2073600}};
    const qint64 blocks = ((width + 15) / 16) * ((height + 15) / 16);
    const qint64 fps = framesPerSecond > 0 ? framesPerSecond : 30;
    for (const Level &level : levels) {
        if (blocks <= level.frameSize && blocks * fps <= level.rate)
            return QString::fromLatin1(level.name);
    }
    return QStringLiteral("5.2");
}

QStringList VideoEncoding::conversionArguments(const VideoDetails &video, const QString &source, const QString &output)
{
    QStringList args{QStringLiteral("-y"), QStringLiteral("-i"), source, QStringLiteral("-c:v"),
                     QStringLiteral("libx264")};
    const bool unknownSize = video.width <= 0 || video.height <= 0;
    if (unknownSize || video.width > boxWidth || video.height > boxHeight)
        args << QStringLiteral("-vf") << boxFilter;
    else if (video.width % 2 != 0 || video.height % 2 != 0)
        args << QStringLiteral("-vf") << evenFilter;
    qint64 w = 0;
    qint64 h = 0;
    outputSize(video, w, h);
    const qint64 fps = video.r_frame_rate > 0 ? video.r_frame_rate : video.avg_frame_rate;
    // Options go before the output name: ffmpeg ignores any after it.
    args << QStringLiteral("-profile:v") << QStringLiteral("main") << QStringLiteral("-level") << h264Level(w, h, fps)
         << QStringLiteral("-pix_fmt") << QStringLiteral("yuv420p") << QStringLiteral("-c:a") << QStringLiteral("aac")
         << QStringLiteral("-b:a") << QStringLiteral("160k") << QStringLiteral("-ar") << QStringLiteral("44100")
         << QStringLiteral("-ac")
         << QStringLiteral("2")
         // Subtitle and data streams would make the MP4 muxer fail, and the
         // car shows neither.
         << QStringLiteral("-sn") << QStringLiteral("-dn") << output;
    return args;
}

QString VideoEncoding::outputFolder()
{
    return ruvoDB::programCopyFolder() + QStringLiteral("/Transcoded Media/Videos");
}

QString VideoEncoding::outputPathFor(const QString &title, const QString &fallbackName)
{
    static const QRegularExpression unsafe(QStringLiteral("[!/\\\\:#*?<>|+.\"]"));
    QString name = QString(title).remove(unsafe).trimmed();
    if (name.isEmpty())
        name = QString(fallbackName).remove(unsafe).trimmed();
    if (name.isEmpty())
        name = QStringLiteral("Video");
    return outputFolder() + QLatin1Char('/') + name + QStringLiteral(".mp4");
}

// ---- Analysis -----------------------------------------------------------------

void VideoEncoding::analizeFiles()
{
    video.clear();
    for (auto it = workTracks.cbegin(); it != workTracks.cend() && !cancelled; ++it) {
        const QString source = it->sourcePath.isEmpty() ? it->filepath : it->sourcePath;
        if (!QFileInfo(source).isFile())
            continue;
        analizeStreams(source);
        VideoDetails facts;
        facts.height = height;
        facts.width = width;
        facts.duration = duration;
        facts.r_frame_rate = rFrameRate;
        facts.avg_frame_rate = avgFrameRate;
        facts.nb_frames = nbFrames;
        facts.trackId = it->id;
        facts.channels = channels;
        facts.videoCodec = videoCodec;
        facts.audioCodec = audioCodec;
        facts.filePath = source;
        video.append(facts);
    }
}

void VideoEncoding::analizeStreams(QString path)
{
    ExternalProgram probe(ExternalProgram::Ffprobe);
    probe.setStopFlag(&cancelled);
    const ExternalProgram::Result result = probe.run(
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_streams"), path}, probeTimeoutMs);
    // Whatever the probe printed before a timeout is still read.
    const VideoDetails facts =
        parseStreams(ProbeOutput::text(result.standardOutput), [this, path] { return getDuration(path); });
    duration = facts.duration;
    nbFrames = facts.nb_frames;
    height = facts.height;
    width = facts.width;
    rFrameRate = facts.r_frame_rate;
    avgFrameRate = facts.avg_frame_rate;
    channels = facts.channels;
    videoCodec = facts.videoCodec;
    audioCodec = facts.audioCodec;
    framesRemaining += nbFrames;
}

double VideoEncoding::getDuration(QString path)
{
    ExternalProgram ffmpeg(ExternalProgram::Ffmpeg);
    ffmpeg.setMergedChannels(true);
    ffmpeg.setStopFlag(&cancelled);
    // Given only an input, ffmpeg exits 1 after its report: the report counts.
    const ExternalProgram::Result report = ffmpeg.run({QStringLiteral("-i"), path}, probeTimeoutMs);
    duration = report.finished() ? ProbeOutput::reportDuration(ProbeOutput::text(report.standardOutput)) : 0;
    return duration;
}

QString VideoEncoding::nameOf(const QString &sourcePath)
{
    const QFileInfo info(sourcePath);
    QString name = info.fileName();
    if (!info.suffix().isEmpty())
        name.remove(QLatin1Char('.') + info.suffix().toLower(), Qt::CaseSensitive);
    return name;
}

// ---- The run --------------------------------------------------------------------

void VideoEncoding::setArg(QMap<int, track> track_obj, transferDetail systemInfoemation)
{
    if (isRunning()) {
        qCWarning(lcVideo) << "setArg while a run is going: ignored";
        return;
    }
    workTracks = track_obj;
    transfer = systemInfoemation;
    cancelled = false;
}

void VideoEncoding::onCanclePressed()
{
    cancelled = true;
    reportSkipped();
}

void VideoEncoding::reportSkipped()
{
    track record;
    {
        QMutexLocker lock(&handMutex);
        if (!inHand || skipReported)
            return;
        skipReported = true;
        record = track_obj_Video;
    }
    record.filesize = -1;
    emit onSkipFile(record);
}

void VideoEncoding::run()
{
    framesRemaining = 0;
    framesProcessed = 0;
    lastFps = 0;
    analizeFiles();

    while (!workTracks.isEmpty() && !cancelled) {
        const auto first = workTracks.begin();
        track record = first.value();
        VideoDetails *facts = nullptr;
        for (VideoDetails &candidate : video) {
            if (candidate.trackId == record.id) {
                facts = &candidate;
                break;
            }
        }
        {
            QMutexLocker lock(&handMutex);
            track_obj_Video = record;
            inHand = true;
            skipReported = false;
        }
        const Outcome outcome = treat(record, facts);
        {
            QMutexLocker lock(&handMutex);
            track_obj_Video = record;
        }
        if (outcome == Outcome::Produced && !cancelled)
            emit onFileComplete(record);
        else if (outcome != Outcome::Refused)
            reportSkipped();
        {
            QMutexLocker lock(&handMutex);
            inHand = false;
        }
        workTracks.erase(first);
    }
    emit onAllFilesCompleate();
}

VideoEncoding::Outcome VideoEncoding::treat(track &record, const VideoDetails *found)
{
    const QString source = record.sourcePath.isEmpty() ? record.filepath : record.sourcePath;
    const VideoDetails facts = found ? *found : VideoDetails();
    lastprocessed = 0;
    lastPercent = -1;
    totalduration.clear();
    nbFrames = facts.nb_frames;
    analysedDuration = facts.duration;

    if (record.duration < 1.0)
        record.duration = facts.duration;
    record.codec = facts.audioCodec;
    record.filename = nameOf(source);
    static const QRegularExpression unsafe(QStringLiteral("[!/\\\\:#*?<>|+.\"]"));
    record.trackname.remove(unsafe);
    QDir().mkpath(outputFolder());
    // The output of this very source is taken as it is; another clip's of the
    // same name (camera names repeat across cards) keeps its file and this
    // one gets a free name.
    const MadeFiles::Claim claimed =
        found ? MadeFiles::claim(outputPathFor(record.trackname, record.filename), MadeFiles::Source::of(source))
              : MadeFiles::Claim{outputPathFor(record.trackname, record.filename), false};
    const QString output = claimed.path;
    record.filepath = output;
    currentOutput = output;
    currentId = record.id;
    if (found)
        video[int(found - video.constData())].filePath = output;
    {
        QMutexLocker lock(&handMutex);
        track_obj_Video = record;
    }

    if (!found) {
        // The source went missing after the add: nothing to analyse or make.
        qCDebug(lcVideo) << "source missing:" << source;
        record.filepath.clear(); // nothing of it is there to remove
        record.filesize = -1;
        reportEnd(-1);
        return Outcome::Skipped;
    }
    bool produced = false;
    // A file made here is unsettled until the controller stores its row: a
    // kill before that leaves it to the next start, never to no one.
    const bool journaled = facts.channels < 3 && !claimed.reuse && FileJournal::note({output});
    if (facts.channels >= 3) {
        framesRemaining -= facts.nb_frames;
    } else if (!claimed.reuse && !journaled) {
        framesRemaining -= facts.nb_frames; // nothing may be made that can't be settled
    } else if (claimed.reuse) {
        // An earlier run already made it from this source.
        produced = true;
        framesRemaining -= facts.nb_frames;
    } else if (fitsCarScreen(facts, source)) {
        produced = copyInto(source, output);
        framesRemaining -= facts.nb_frames;
    } else if (convert(facts, source, output)) {
        produced = true;
        framesProcessed += facts.nb_frames - lastprocessed;
    } else {
        framesRemaining -= facts.nb_frames;
        framesProcessed -= lastprocessed;
    }
    if (produced && !claimed.reuse)
        MadeFiles::made(output, source);
    else if (!claimed.reuse)
        MadeFiles::release(output);

    if (facts.channels >= 3) {
        record.filepath.clear();
        record.filesize = -1;
        reportEnd(-1);
        emit onMultiChannelsFile(record);
        return Outcome::Refused;
    }
    if (!produced || cancelled) {
        if (journaled)
            FileJournal::settle(ruvoDB::programCopyFolder(), {output});
        if (!produced)
            record.filepath.clear();
        record.filesize = -1;
        reportEnd(-1);
        return Outcome::Skipped;
    }
    // What is stored is the file made: an MP4 with AAC sound.
    record.codec = QStringLiteral("aac");
    record.filesize = QFileInfo(output).size();
    record.isVideo = true;
    ensureThumbnail(record);
    reportEnd(100);
    return Outcome::Produced;
}

void VideoEncoding::reportEnd(qint64 progress)
{
    const qint64 remaining = framesRemaining - framesProcessed;
    if (remaining <= 0)
        emit onAproxTimeChange(0);
    else if (lastFps > 0)
        emit onAproxTimeChange(remaining / lastFps);
    emit onProgressChange(currentOutput, currentId, progress);
}

bool VideoEncoding::copyInto(const QString &source, const QString &target)
{
    QFile in(source);
    // Flushed before the video is recorded; an older output is replaced in one step.
    AtomicFile out(target, AtomicFile::Replace::Existing, AtomicFile::Flush::Now);
    if (!in.open(QIODevice::ReadOnly) || !out.open()) {
        qCDebug(lcVideo) << "cannot copy" << source << "to" << target;
        return false;
    }
    bool ok = true;
    while (ok && !in.atEnd()) {
        const QByteArray chunk = in.read(1 << 20);
        ok = !cancelled && !chunk.isEmpty() && out.write(chunk);
    }
    return ok && out.commit();
}

bool VideoEncoding::convert(const VideoDetails &facts, const QString &source, const QString &target)
{
    // ffmpeg writes the hidden file beside the target, which takes its place
    // only once complete and flushed; ffmpeg picks the container from its
    // extension.
    AtomicFile partial(target, AtomicFile::Replace::Existing, AtomicFile::Flush::Now, QStringLiteral("mp4"));
    if (!partial.open(0644) || !partial.close()) {
        qCDebug(lcVideo) << "cannot write beside" << target;
        return false;
    }

    ExternalProgram ffmpeg(ExternalProgram::Ffmpeg);
    ffmpeg.setMergedChannels(true);
    ffmpeg.setStopFlag(&cancelled);
    // It would take every core: the window must still answer at once.
    ffmpeg.setBackgroundPriority(true);
    // Far longer than any conversion takes; it only guards against a hang.
    const qint64 limit = 600000 + qint64(std::max(0.0, facts.duration) * 20000.0);
    const ExternalProgram::Result result = ffmpeg.runStreaming(
        conversionArguments(facts, source, partial.temporaryPath()), int(std::min<qint64>(limit, INT_MAX)),
        [this](const QByteArray &line) { ffmpeg_progress_Output(line); });
    if (!result.succeeded() || cancelled || QFileInfo(partial.temporaryPath()).size() <= 0) {
        qCDebug(lcVideo) << "conversion failed or cancelled:" << source << "exit" << result.exitCode
                         << result.errorText;
        return false;
    }
    if (!partial.commit()) {
        qCDebug(lcVideo) << "cannot move the conversion to" << target;
        return false;
    }
    return true;
}

void VideoEncoding::ffmpeg_progress_Output(const QByteArray &line)
{
    const QString text = QString::fromLocal8Bit(line);
    if (totalduration.isEmpty() && text.contains(QLatin1String("Duration:")))
        totalduration = ProbeOutput::durationText(text);
    const ProgressLine progress = parseProgressLine(text);
    if (!progress.valid)
        return;

    double total = totalduration.isEmpty() ? 0 : sha.convertToSec(totalduration);
    if (total <= 0)
        total = analysedDuration;
    const int percent = progressPercent(progress.seconds, total);
    if (percent >= 0 && percent != lastPercent) {
        lastPercent = percent;
        emit onProgressChange(currentOutput, currentId, percent);
    }

    if (progress.fps > 0) {
        lastFps = progress.fps;
        if (nbFrames - progress.frame > 1)
            emit onCurrentTrackTimeChange((nbFrames - progress.frame) / progress.fps);
    }
    framesProcessed += progress.frame - lastprocessed;
    lastprocessed = progress.frame;
    const qint64 remaining = framesRemaining - framesProcessed;
    if (lastFps > 0 && remaining > 0)
        emit onAproxTimeChange(remaining / lastFps);
}

void VideoEncoding::ensureThumbnail(track &record)
{
    if (!record.cover.isEmpty() && QFileInfo(record.cover).isFile())
        return;
    VideoMetadata metadata;
    const track made = metadata.getVideoMetadata(record.filepath, 1);
    if (QFileInfo(made.cover).isFile())
        record.cover = made.cover;
}
