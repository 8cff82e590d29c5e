#pragma once

// Shared by the source files of TagLibBuilder only.

#include <QByteArray>
#include <QString>
#include <QXmlStreamReader>

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

} // namespace TagLibBuilderInternal
