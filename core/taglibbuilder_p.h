#pragma once

// Shared by the source files of TagLibBuilder only.

#include <QByteArray>
#include <QString>
#include <QXmlStreamReader>

#include "core/boundedxmldevice.h"
#include "core/logging.h"

#include <taglib/tbytevector.h>

namespace TagLibBuilderInternal {
// The bytes of a TagLib vector as a QByteArray (copied).
inline QByteArray toQByteArray(const TagLib::ByteVector &bytes)
{
    return QByteArray(bytes.data(), int(bytes.size()));
}


// The value element right after a key, skipping the white space and comments
// between them.  A value that isn't an integer, string or date (a dict, an
// array, true, false, data, or nothing) gives "-2", which is how the "Tracks"
// key, whose value is a dictionary, is recognised.  Leaves the reader on the
// value's end tag, or on the start tag of a dict or array.
inline QString itunesValueText(QXmlStreamReader &xml)
{
    xml.readNext();
    while (xml.isWhitespace() || xml.isComment())
        xml.readNext();
    if (xml.isStartElement()) {
        const QStringView name = xml.name();
        if (name == QLatin1String("integer") || name == QLatin1String("string") || name == QLatin1String("date"))
            return xml.readElementText();
        if (name == QLatin1String("true") || name == QLatin1String("false")) {
            const QString flag = name.toString();
            xml.skipCurrentElement();
            return flag;
        }
    }
    return QStringLiteral("-2");
}

// One log line per value of the library file left out for its size.
inline void logLeftOutValues(const BoundedXmlDevice &device, const QString &path)
{
    for (const BoundedXmlDevice::Skipped &value : device.skipped()) {
        const QString what =
            value.element.isEmpty() ? QStringLiteral("markup") : QStringLiteral("<%1> value").arg(value.element);
        Logging::getInstance()->WriteLog(
            QStringLiteral("iTunes library: a %1 of %2 bytes at line %3 is too long and was left out: ")
                .arg(what)
                .arg(value.bytes)
                .arg(value.line),
            path);
    }
    if (device.skippedCount() > device.skipped().size())
        Logging::getInstance()->WriteLog(QStringLiteral("iTunes library: %1 more values too long, left out: ")
                                             .arg(device.skippedCount() - device.skipped().size()),
                                         path);
    if (device.cutShort())
        Logging::getInstance()->WriteLog(QStringLiteral("iTunes library: reading ended at a tag too long to be real: "),
                                         path);
}

// An iTunes library file read as XML within BoundedXmlDevice's caps.  No
// entity is expanded: no library declares entities of its own, and one that
// did could make each short value expand to megabytes, past every cap.
class ItunesXml
{
public:
    ItunesXml(QIODevice *file, qint64 textLimit, qint64 dataLimit, int depthLimit)
        : bounded(file, textLimit, dataLimit, depthLimit), reader(&bounded)
    {
        reader.setEntityExpansionLimit(0);
    }
    QXmlStreamReader &xml() { return reader; }
    // One log line per value left out for its size.
    void logLeftOut(const QString &path) const { logLeftOutValues(bounded, path); }

    // Why the reading ended before the document did, for the user; "" when
    // it didn't.  Read once the reader has stopped.  `found` is the
    // character the reader stopped at, when known: the reader's own words
    // leave out one it can't take (a control character).
    QString damage(QChar found = QChar()) const
    {
        const QString after = QStringLiteral("; nothing after that point was read");
        if (bounded.tooDeep())
            return QStringLiteral("the iTunes library file is damaged: at line %1 its elements nest more than %2 "
                                  "deep, as no real library does")
                       .arg(reader.lineNumber())
                       .arg(bounded.depthLimit()) +
                   after;
        if (bounded.cutShort())
            return QStringLiteral("the iTunes library file is damaged: a tag at line %1 is too long to be real")
                       .arg(reader.lineNumber()) +
                   after;
        if (!reader.hasError())
            return QString();
        // The reader's own words may quote the damage, which can be any length.
        QString why = reader.errorString();
        if (why == QLatin1String("Unexpected ''.") && !found.isNull())
            why = QStringLiteral("unexpected character U+%1")
                      .arg(QString::number(found.unicode(), 16).toUpper().rightJustified(4, QLatin1Char('0')));
        constexpr qsizetype longest = 100;
        if (why.size() > longest)
            why = why.left(longest) + QChar(0x2026);
        return QStringLiteral("the iTunes library file is damaged at line %1 (%2)")
                   .arg(QString::number(reader.lineNumber()), why) +
               after;
    }

private:
    BoundedXmlDevice bounded;
    QXmlStreamReader reader;
};

} // namespace TagLibBuilderInternal
