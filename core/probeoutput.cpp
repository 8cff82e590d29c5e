#include "core/probeoutput.h"

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
