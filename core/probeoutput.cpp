#include "core/probeoutput.h"

#include <QMap>
#include <QStringList>

#include <cmath>

#include "core/shared.h"

QString ProbeOutput::text(const QByteArray &output)
{
    const int nul = output.indexOf('\0');
    return QString::fromLocal8Bit(nul < 0 ? output : output.left(nul)).trimmed();
}

double ProbeOutput::videoStreamDuration(const QString &showStreams)
{
    QString streamType;
    const QStringList lines = showStreams.split(QLatin1Char('\n'));
    for (const QString &rawLine : lines) {
        const QString line = rawLine.endsWith(QLatin1Char('\r')) ? rawLine.chopped(1) : rawLine;
        const int equals = line.indexOf(QLatin1Char('='));
        const QString key = (equals < 0 ? line : line.left(equals)).toLower();
        const QString value = equals < 0 ? QString() : line.mid(equals + 1);
        if (key == QLatin1String("codec_type")) {
            streamType = value;
        } else if (key == QLatin1String("duration") && streamType == QLatin1String("video")) {
            bool ok = false;
            const double seconds = value.toDouble(&ok);
            return ok && std::isfinite(seconds) ? seconds : 0;
        }
    }
    return 0;
}

QString ProbeOutput::durationText(const QString &report)
{
    const int at = report.indexOf(QLatin1String("Duration"));
    if (at < 0)
        return QString();
    return report.mid(at + 10, 11).trimmed();
}

double ProbeOutput::reportDuration(const QString &report)
{
    const QString time = durationText(report);
    return time.isEmpty() ? 0 : shared().convertToSec(time);
}

ProbeOutput::Streams ProbeOutput::streams(const QString &showStreamsAndFormat)
{
    Streams result;
    // One [STREAM] or [FORMAT] block at a time; its values count once it closes.
    QMap<QString, QString> block;
    double videoDuration = 0;
    double formatDuration = 0;
    int formatBitrate = 0;
    const auto number = [&block](const char *key) {
        bool ok = false;
        const double value = block.value(QLatin1String(key)).toDouble(&ok);
        return ok && std::isfinite(value) && value > 0 ? value : 0.0;
    };
    const QStringList lines = showStreamsAndFormat.split(QLatin1Char('\n'));
    for (const QString &rawLine : lines) {
        const QString line = rawLine.trimmed();
        if (line == QLatin1String("[/STREAM]")) {
            const QString type = block.value(QStringLiteral("codec_type"));
            if (type == QLatin1String("audio") && !result.hasAudio) {
                result.hasAudio = true;
                result.sampleRate = int(qMin(number("sample_rate"), 1e9));
                result.channels = int(qMin(number("channels"), 1e3));
                result.bitrate = int(qMin(number("bit_rate") / 1000, 1e6));
                result.duration = number("duration");
            } else if (type == QLatin1String("video")
                       && block.value(QStringLiteral("disposition:attached_pic")) != QLatin1String("1")) {
                result.hasVideo = true;
                if (videoDuration <= 0)
                    videoDuration = number("duration");
            }
            block.clear();
        } else if (line == QLatin1String("[/FORMAT]")) {
            formatDuration = number("duration");
            formatBitrate = int(qMin(number("bit_rate") / 1000, 1e6));
            block.clear();
        } else if (line.startsWith(QLatin1Char('['))) {
            block.clear();
        } else {
            const int equals = line.indexOf(QLatin1Char('='));
            if (equals > 0)
                block.insert(line.left(equals).toLower(), line.mid(equals + 1));
        }
    }
    if (result.duration <= 0)
        result.duration = videoDuration;
    if (result.duration <= 0)
        result.duration = formatDuration;
    if (result.bitrate <= 0)
        result.bitrate = formatBitrate;
    return result;
}
