#include "core/boundedxmldevice.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr qint64 readBlock = 64 * 1024;
} // namespace

BoundedXmlDevice::BoundedXmlDevice(QIODevice *from, qint64 textCap, qint64 dataCap)
    : source(from), textLimit(textCap), dataLimit(dataCap), textCapHere(textCap)
{
    setOpenMode(QIODevice::ReadOnly | QIODevice::Unbuffered);
}

bool BoundedXmlDevice::atEnd() const
{
    return outputRead >= output.size() && (sourceDone || stopped);
}

qint64 BoundedXmlDevice::bytesAvailable() const
{
    return output.size() - outputRead + QIODevice::bytesAvailable();
}

qint64 BoundedXmlDevice::writeData(const char *, qint64)
{
    return -1;
}

// The text in hand has ended at markup: on it goes, or is recorded as left out.
void BoundedXmlDevice::endText()
{
    if (mode == Mode::Text)
        output += pending;
    else
        skip(elementName(), pendingLine, pendingBytes);
    pending.clear();
    pendingBytes = 0;
    mode = Mode::Text;
}

// The text that follows a start tag is its element's; after an end tag or an
// empty element it is the space between elements.
void BoundedXmlDevice::noteTag(const char *tag, qsizetype size)
{
    if (size >= 2 && (tag[1] == '/' || tag[size - 2] == '/')) {
        element.clear();
        textCapHere = textLimit;
        return;
    }
    qsizetype end = 1;
    while (end < size && !std::strchr(" \t\r\n/>", tag[end]))
        ++end;
    element.assign(tag + 1, size_t(end - 1)); // short names: no allocation
    textCapHere = element == "data" ? dataLimit : textLimit;
}

QString BoundedXmlDevice::elementName() const
{
    return QString::fromStdString(element);
}

void BoundedXmlDevice::skip(const QString &what, qint64 at, qint64 bytes)
{
    ++skips;
    if (skippedValues.size() < maxListed)
        skippedValues.append({what, at, bytes});
}

qint64 BoundedXmlDevice::readData(char *data, qint64 maxSize)
{
    if (block.size() != readBlock)
        block.resize(readBlock);
    while (outputRead >= output.size() && !sourceDone && !stopped) {
        output.clear();
        outputRead = 0;
        const qint64 n = source->read(block.data(), readBlock);
        if (n <= 0) {
            sourceDone = true;
            // What is in hand at the end: text goes on, a value over its cap
            // is recorded, a cut tag goes on for the reader to find damaged.
            if (mode == Mode::Text || mode == Mode::Markup)
                output += pending;
            else
                skip(mode == Mode::SkipText || kind == Kind::CData ? elementName() : QString(), pendingLine,
                     pendingBytes);
            pending.clear();
            break;
        }
        for (qint64 i = 0; i < n && !stopped;) {
            if (mode == Mode::Text || mode == Mode::SkipText) {
                // A run of text up to the next markup, in one go.
                const char *start = block.constData() + i;
                const auto *lt = static_cast<const char *>(std::memchr(start, '<', size_t(n - i)));
                const qint64 run = lt ? lt - start : n - i;
                if (pendingBytes == 0 && run > 0)
                    pendingLine = line;
                line += std::count(start, start + run, '\n');
                pendingBytes += run;
                if (mode == Mode::Text && lt && pending.isEmpty() && pendingBytes <= textCapHere) {
                    output.append(start, run); // a whole text within its cap: straight on
                } else if (mode == Mode::Text && pendingBytes > textCapHere) {
                    mode = Mode::SkipText;
                    pending.clear();
                    pending.squeeze();
                } else if (mode == Mode::Text) {
                    pending.append(start, run);
                }
                i += run;
                if (!lt)
                    continue;
                // A whole plain tag in this block (no quote, no line break)
                // goes straight on; anything else byte by byte.
                const qint64 left = n - i;
                const auto *gt = static_cast<const char *>(std::memchr(lt, '>', size_t(left)));
                const bool plain =
                    gt && left > 1 && lt[1] != '!' && lt[1] != '?' &&
                    std::none_of(lt + 1, gt, [](char c) { return c == '<' || c == '"' || c == '\'' || c == '\n'; });
                if (!plain) {
                    take('<');
                    ++i;
                    continue;
                }
                endText();
                const qint64 size = gt - lt + 1;
                output.append(lt, size);
                noteTag(lt, size);
                i += size;
            } else if (mode == Mode::Markup && kind == Kind::Tag && quote == 0 && pendingBytes <= dataLimit) {
                // The plain part of a tag (no quote, no end) in one go.
                const char *start = block.constData() + i;
                qint64 run = 0;
                while (run < n - i && !std::strchr("<>\"'\n", start[run]))
                    ++run;
                if (run > 1) {
                    pending.append(start, run - 1);
                    pendingBytes += run - 1;
                    i += run - 1;
                    last2 = run > 2 ? start[run - 3] : last1;
                    last1 = start[run - 2];
                }
                take(block.at(i++)); // the last of the run, or the byte that ends it
            } else {
                take(block.at(i++));
            }
        }
    }
    const qint64 count = std::min<qint64>(maxSize, output.size() - outputRead);
    if (count > 0) {
        std::memcpy(data, output.constData() + outputRead, size_t(count));
        outputRead += count;
    }
    return count;
}

// One byte of markup, or the '<' that starts it.
void BoundedXmlDevice::take(char c)
{
    if (c == '<' && (mode == Mode::Text || mode == Mode::SkipText)) {
        endText();
        pending += c;
        pendingBytes = 1;
        pendingLine = line;
        mode = Mode::Markup;
        kind = Kind::Unknown;
        quote = 0;
        brackets = 0;
        last1 = last2 = 0;
        return;
    }
    if (c == '\n')
        ++line;
    ++pendingBytes;
    if (mode == Mode::Markup) {
        pending += c;
        if (kind == Kind::Unknown)
            classify();
    }
    const bool ends = kind != Kind::Unknown && markupEnds(c);
    last2 = last1;
    last1 = c;
    // A CDATA section is its element's text, under the text's cap.
    if (mode == Mode::Markup &&
        pendingBytes > (kind == Kind::CData ? textCapHere + qint64(sizeof("<![CDATA[]]>") - 1) : dataLimit)) {
        if (kind == Kind::Comment || kind == Kind::CData || kind == Kind::Instruction) {
            mode = Mode::SkipMarkup; // dropped whole: nothing of it has gone on
            pending.clear();
            pending.squeeze();
        } else {
            // A tag can't be dropped and leave a document: end it here.
            skip(QString(), pendingLine, pendingBytes);
            stopped = true;
            pending.clear();
            return;
        }
    }
    if (ends)
        endMarkup();
}

// What the markup in hand is, once its first bytes tell.
void BoundedXmlDevice::classify()
{
    static const QByteArray comment("<!--");
    static const QByteArray cdata("<![CDATA[");
    if (pending.size() < 2)
        return;
    if (pending.at(1) == '?') {
        kind = Kind::Instruction;
    } else if (pending.at(1) != '!') {
        kind = Kind::Tag;
    } else if (comment.startsWith(pending)) {
        if (pending.size() == comment.size())
            kind = Kind::Comment;
    } else if (cdata.startsWith(pending)) {
        if (pending.size() == cdata.size())
            kind = Kind::CData;
    } else {
        kind = Kind::Declaration;
        brackets = int(pending.count('[') - pending.count(']'));
    }
}

// Whether c (after last1 and last2) closes the markup in hand.
bool BoundedXmlDevice::markupEnds(char c)
{
    switch (kind) {
    case Kind::Comment:
        return c == '>' && last1 == '-' && last2 == '-' && pendingBytes >= 7;
    case Kind::CData:
        return c == '>' && last1 == ']' && last2 == ']' && pendingBytes >= 12;
    case Kind::Instruction:
        return c == '>' && last1 == '?' && pendingBytes >= 4;
    case Kind::Tag:
    case Kind::Declaration:
        if (quote) {
            if (c == quote)
                quote = 0;
            return false;
        }
        if (c == '"' || c == '\'') {
            quote = c;
        } else if (kind == Kind::Declaration && c == '[') {
            ++brackets;
        } else if (kind == Kind::Declaration && c == ']') {
            --brackets;
        } else if (c == '>') {
            return kind == Kind::Tag || brackets <= 0;
        }
        return false;
    case Kind::Unknown:
        break;
    }
    return false;
}

void BoundedXmlDevice::endMarkup()
{
    if (mode == Mode::SkipMarkup) {
        skip(kind == Kind::CData ? elementName() : QString(), pendingLine, pendingBytes);
    } else {
        output += pending;
        if (kind == Kind::Tag)
            noteTag(pending.constData(), pending.size());
    }
    pending.clear();
    pendingBytes = 0;
    mode = Mode::Text;
    kind = Kind::Unknown;
}
