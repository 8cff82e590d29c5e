#include "core/boundedxmldevice.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr qsizetype readBlock = 64 * 1024;

// Whether d[p, n) opens with `word`: 1 yes, 0 no, -1 not known before more comes.
int opens(const char *d, qsizetype p, qsizetype n, const char *word, qsizetype size)
{
    const qsizetype left = n - p;
    if (std::memcmp(d + p, word, size_t(std::min(left, size))) != 0)
        return 0;
    return left >= size ? 1 : -1;
}

// Where the first `word` (which ends in '>') in d[p, n) ends, or -1.
qsizetype closing(const char *d, qsizetype p, qsizetype n, const char *word, qsizetype size)
{
    for (qsizetype from = p + size - 1; from < n;) {
        const auto *gt = static_cast<const char *>(std::memchr(d + from, '>', size_t(n - from)));
        if (!gt)
            return -1;
        if (std::memcmp(gt - size + 1, word, size_t(size - 1)) == 0)
            return gt - d + 1;
        from = gt - d + 1;
    }
    return -1;
}
} // namespace

BoundedXmlDevice::BoundedXmlDevice(QIODevice *from, qint64 textCap, qint64 dataCap)
    : source(from), textLimit(textCap), dataLimit(dataCap), textCapHere(textCap)
{
    setOpenMode(QIODevice::ReadOnly | QIODevice::Unbuffered);
}

bool BoundedXmlDevice::atEnd() const
{
    return outputRead >= unitStart && (sourceDone || stopped);
}

qint64 BoundedXmlDevice::bytesAvailable() const
{
    return unitStart - outputRead + QIODevice::bytesAvailable();
}

qint64 BoundedXmlDevice::writeData(const char *, qint64)
{
    return -1;
}

qint64 BoundedXmlDevice::readData(char *data, qint64 maxSize)
{
    // Only whole units go on: the one in hand may still be dropped.
    while (outputRead >= unitStart && !sourceDone && !stopped)
        fill();
    const qint64 count = std::min<qint64>(maxSize, unitStart - outputRead);
    if (count > 0) {
        std::memcpy(data, output.constData() + outputRead, size_t(count));
        outputRead += count;
    }
    return count;
}

// Scans one more read of the source.
void BoundedXmlDevice::fill()
{
    if (outputRead > 0) {
        output.remove(0, outputRead);
        unitStart -= outputRead;
        outputRead = 0;
    }
    if (block.size() < carried + readBlock)
        block.resize(carried + readBlock);
    const qint64 n = source->read(block.data() + carried, readBlock);
    const bool final = n <= 0;
    const qsizetype size = carried + (final ? 0 : qsizetype(n));
    const qsizetype used = scan(block.constData(), size, final);
    lineAt(block.constData(), used);
    lineMark = 0;
    carried = size - used;
    if (carried > 0)
        std::memmove(block.data(), block.constData() + used, size_t(carried));
    if (!final)
        return;
    // What is in hand at the end: text goes on, a value over its cap is
    // recorded, a cut tag goes on for the reader to find damaged.
    sourceDone = true;
    if (stopped)
        return;
    if (state != State::Tag && state != State::Declaration) {
        endContent();
    } else if (dropping) {
        skip(QString(), unitLine, unitBytes);
        stopped = true;
    } else {
        unitStart = output.size();
    }
}

// Takes what it can of d[0, n) and returns how much; the rest is kept until
// the next read tells what it is.  At the end (`final`) all is taken.
qsizetype BoundedXmlDevice::scan(const char *d, qsizetype n, bool final)
{
    qsizetype p = 0;
    while (p < n && !stopped) {
        switch (state) {
        case State::Text: {
            const auto *lt = static_cast<const char *>(std::memchr(d + p, '<', size_t(n - p)));
            const qsizetype end = lt ? lt - d : n;
            addContent(d + p, end - p);
            p = end;
            if (!lt)
                break;
            // Comments, CDATA and instructions belong to the content; their
            // opening may be cut by the end of the read.
            const int comment = opens(d, p, n, "<!--", 4);
            const int cdata = opens(d, p, n, "<![CDATA[", 9);
            const int instruction = opens(d, p, n, "<?", 2);
            if (!final && (comment < 0 || cdata < 0 || instruction < 0))
                return p;
            if (comment > 0) {
                addContent(d + p, 4);
                p += 4;
                state = State::Comment;
            } else if (cdata > 0) {
                addContent(d + p, 9);
                p += 9;
                state = State::CData;
            } else if (instruction > 0) {
                addContent(d + p, 2);
                p += 2;
                state = State::Instruction;
            } else {
                endContent();
                unitLine = lineAt(d, p);
                state = n - p > 1 && d[p + 1] == '!' ? State::Declaration : State::Tag;
                quote = 0;
                brackets = 0;
                addMarkup(d + p, 1);
                ++p;
            }
            break;
        }
        case State::Comment:
        case State::CData:
        case State::Instruction: {
            const char *word = state == State::Comment ? "-->" : state == State::CData ? "]]>" : "?>";
            const qsizetype size = qsizetype(std::strlen(word));
            const qsizetype end = closing(d, p, n, word, size);
            if (end >= 0) {
                addContent(d + p, end - p);
                p = end;
                state = State::Text;
                break;
            }
            // The last bytes may begin the closing: kept for the next read.
            const qsizetype upTo = final ? n : std::max(p, n - (size - 1));
            addContent(d + p, upTo - p);
            p = upTo;
            if (p < n)
                return p;
            break;
        }
        case State::Tag:
        case State::Declaration:
            p = scanMarkup(d, p, n);
            break;
        }
    }
    return stopped ? n : p;
}

// Takes a tag or declaration up to its end or the end of d[p, n).
qsizetype BoundedXmlDevice::scanMarkup(const char *d, qsizetype p, qsizetype n)
{
    while (p < n) {
        if (quote) {
            const auto *q = static_cast<const char *>(std::memchr(d + p, quote, size_t(n - p)));
            const qsizetype end = q ? q - d + 1 : n;
            addMarkup(d + p, end - p);
            p = end;
            if (q)
                quote = 0;
            continue;
        }
        if (state == State::Tag) {
            const auto *gt = static_cast<const char *>(std::memchr(d + p, '>', size_t(n - p)));
            const char *limit = gt ? gt : d + n;
            const char *q = std::find_if(d + p, limit, [](char c) { return c == '"' || c == '\''; });
            if (q != limit) {
                addMarkup(d + p, q - d + 1 - p);
                p = q - d + 1;
                quote = *q;
                continue;
            }
            if (!gt) {
                addMarkup(d + p, n - p);
                return n;
            }
            addMarkup(d + p, gt - d + 1 - p);
            p = gt - d + 1;
            endMarkup(d, p);
            return p;
        }
        // A declaration, byte by byte: it is short and met once.
        const char c = d[p];
        addMarkup(d + p, 1);
        ++p;
        if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '[') {
            ++brackets;
        } else if (c == ']') {
            --brackets;
        } else if (c == '>' && brackets <= 0) {
            endMarkup(d, p);
            return p;
        }
    }
    return p;
}

void BoundedXmlDevice::addContent(const char *from, qsizetype size)
{
    if (size == 0)
        return;
    unitBytes += size;
    if (dropping)
        return;
    if (unitBytes > textCapHere) {
        dropping = true;
        output.truncate(unitStart);
        return;
    }
    output.append(from, size);
}

// A tag over its cap is still followed to its end, for its true size.
void BoundedXmlDevice::addMarkup(const char *from, qsizetype size)
{
    unitBytes += size;
    if (dropping)
        return;
    if (unitBytes > dataLimit) {
        dropping = true;
        output.truncate(unitStart);
        return;
    }
    output.append(from, size);
}

// The content in hand has ended at a tag: on it goes, or is recorded as left out.
void BoundedXmlDevice::endContent()
{
    if (dropping)
        skip(QString::fromStdString(element), unitLine, unitBytes);
    dropping = false;
    unitStart = output.size();
    unitBytes = 0;
}

void BoundedXmlDevice::endMarkup(const char *d, qsizetype p)
{
    if (dropping) {
        // A tag can't be left out and leave a document: the stream ends here.
        skip(QString(), unitLine, unitBytes);
        stopped = true;
        return;
    }
    if (state == State::Tag)
        noteTag(output.constData() + unitStart, output.size() - unitStart);
    state = State::Text;
    unitStart = output.size();
    unitBytes = 0;
    unitLine = lineAt(d, p);
}

qint64 BoundedXmlDevice::lineAt(const char *d, qsizetype p)
{
    line += std::count(d + lineMark, d + p, '\n');
    lineMark = p;
    return line;
}

// The content that follows a start tag is its element's; after an end tag or
// an empty element it is the space between elements.
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

void BoundedXmlDevice::skip(const QString &what, qint64 at, qint64 bytes)
{
    ++skips;
    if (skippedValues.size() < maxListed)
        skippedValues.append({what, at, bytes});
}
