#include "core/boundedxmldevice.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr qsizetype readBlock = 64 * 1024;

// The line breaks in d[0, n), eight bytes at a time: lines are counted for
// every byte read, and a byte-wise count costs as much as the rest.
qint64 lineBreaks(const char *d, qsizetype n)
{
    constexpr quint64 low7 = 0x7f7f7f7f7f7f7f7fULL;
    constexpr quint64 breaks = 0x0a0a0a0a0a0a0a0aULL;
    qint64 count = 0;
    qsizetype i = 0;
    for (; i + 8 <= n; i += 8) {
        quint64 word;
        std::memcpy(&word, d + i, 8);
        const quint64 x = word ^ breaks; // a zero byte where a break was
        // 0x80 in each byte that was a break, then the sum of those bytes.
        const quint64 found = ~(((x & low7) + low7) | x | low7);
        count += qint64(((found >> 7) * 0x0101010101010101ULL) >> 56);
    }
    return count + std::count(d + i, d + n, '\n');
}

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

BoundedXmlDevice::BoundedXmlDevice(QIODevice *from, qint64 textCap, qint64 dataCap, int depthCap)
    : source(from), textLimit(textCap), dataLimit(dataCap), maxDepth(depthCap), textCapHere(textCap)
{
    setOpenMode(QIODevice::ReadOnly | QIODevice::Unbuffered);
}

bool BoundedXmlDevice::atEnd() const
{
    // Bytes peeked at wait in the base class's buffer.
    return outputRead >= unitStart && (sourceDone || stopped) && QIODevice::bytesAvailable() == 0;
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
    const char *d = block.constData();
    const qsizetype used = scan(d, size, final);
    flush(d, used);
    if (unitAt >= 0)
        unitLine = lineOf(d, unitAt);
    blockLine += lineBreaks(d, used);
    carried = size - used;
    if (carried > 0)
        std::memmove(block.data(), d + used, size_t(carried));
    if (!final)
        return;
    // What is in hand at the end: text goes on, a value over its cap is
    // recorded, a cut tag goes on for the reader to find damaged.
    sourceDone = true;
    if (stopped)
        return;
    if (state != State::Tag && state != State::Declaration) {
        endContent(used);
    } else if (dropping) {
        skip(QString(), unitLine, unitBytes);
        stopped = true;
        return;
    }
    unitStart = output.size();
}

// Takes what it can of d[0, n) and returns how much; the rest is kept until
// the next read tells what it is.  At the end (`final`) all is taken.
qsizetype BoundedXmlDevice::scan(const char *d, qsizetype n, bool final)
{
    copyFrom = 0;
    scanned = 0;
    unitAt = -1;
    qsizetype p = 0;
    while (p < n && !stopped) {
        switch (state) {
        case State::Text: {
            const auto *lt = static_cast<const char *>(std::memchr(d + p, '<', size_t(n - p)));
            p = lt ? lt - d : n;
            addContent(d, p);
            if (!lt)
                break;
            if (n - p < 2 && !final)
                return p;
            const char next = n - p > 1 ? d[p + 1] : 0;
            if (next == '!' || next == '?') {
                // Comments, CDATA and instructions belong to the content;
                // their opening may be cut by the end of the read.
                const int comment = opens(d, p, n, "<!--", 4);
                const int cdata = opens(d, p, n, "<![CDATA[", 9);
                const int instruction = opens(d, p, n, "<?", 2);
                if (!final && (comment < 0 || cdata < 0 || instruction < 0))
                    return p;
                if (comment > 0 || cdata > 0 || instruction > 0) {
                    p += comment > 0 ? 4 : cdata > 0 ? 9 : 2;
                    state = comment > 0 ? State::Comment : cdata > 0 ? State::CData : State::Instruction;
                    addContent(d, p);
                    break;
                }
            }
            endContent(p);
            state = next == '!' ? State::Declaration : State::Tag;
            quote = 0;
            brackets = 0;
            startUnit(p);
            ++p;
            addMarkup(d, p);
            break;
        }
        case State::Comment:
        case State::CData:
        case State::Instruction: {
            const char *word = state == State::Comment ? "-->" : state == State::CData ? "]]>" : "?>";
            const qsizetype size = qsizetype(std::strlen(word));
            const qsizetype end = closing(d, p, n, word, size);
            if (end >= 0) {
                p = end;
                addContent(d, p);
                state = State::Text;
                break;
            }
            // The last bytes may begin the closing: kept for the next read.
            p = final ? n : std::max(p, n - (size - 1));
            addContent(d, p);
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
    while (p < n && !stopped) {
        if (quote) {
            const auto *q = static_cast<const char *>(std::memchr(d + p, quote, size_t(n - p)));
            p = q ? q - d + 1 : n;
            addMarkup(d, p);
            if (q)
                quote = 0;
            continue;
        }
        if (state == State::Tag) {
            const auto *gt = static_cast<const char *>(std::memchr(d + p, '>', size_t(n - p)));
            const char *limit = gt ? gt : d + n;
            const char *q = std::find_if(d + p, limit, [](char c) { return c == '"' || c == '\''; });
            if (q != limit) {
                p = q - d + 1;
                addMarkup(d, p);
                quote = *q;
                continue;
            }
            p = gt ? gt - d + 1 : n;
            addMarkup(d, p);
            if (gt)
                endMarkup(d, p);
            return p;
        }
        // A declaration, byte by byte: it is short and met once.
        const char c = d[p];
        ++p;
        addMarkup(d, p);
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

// A new unit (a tag, or the content after one) begins at d[p].
void BoundedXmlDevice::startUnit(qsizetype p)
{
    unitStart = output.size() + (p - copyFrom);
    unitAt = p;
    unitBytes = 0;
    dropping = false;
}

// The content in hand grows to d[to].
void BoundedXmlDevice::addContent(const char *d, qsizetype to)
{
    unitBytes += to - scanned;
    scanned = to;
    if (!dropping && unitBytes > textCapHere)
        drop(d, to);
    if (dropping)
        copyFrom = to;
}

// The tag in hand grows to d[to].  Over its cap it is still followed to its
// end, for its true size.
void BoundedXmlDevice::addMarkup(const char *d, qsizetype to)
{
    unitBytes += to - scanned;
    scanned = to;
    if (!dropping && unitBytes > dataLimit)
        drop(d, to);
    if (dropping)
        copyFrom = to;
}

// The unit in hand is over its cap: what of it was kept is taken back.
void BoundedXmlDevice::drop(const char *d, qsizetype to)
{
    dropping = true;
    if (unitAt >= 0) {
        output.append(d + copyFrom, unitAt - copyFrom);
        unitLine = lineOf(d, unitAt);
    } else {
        output.truncate(unitStart);
    }
    copyFrom = to;
}

// Kept bytes of the block up to d[to] are copied on.
void BoundedXmlDevice::flush(const char *d, qsizetype to)
{
    if (!dropping)
        output.append(d + copyFrom, to - copyFrom);
    copyFrom = to;
}

// The content in hand has ended at a tag: recorded if it was left out.
void BoundedXmlDevice::endContent(qsizetype p)
{
    if (dropping) {
        skip(QString::fromStdString(element), unitLine, unitBytes);
        copyFrom = p;
    }
    dropping = false;
}

void BoundedXmlDevice::endMarkup(const char *d, qsizetype p)
{
    if (dropping) {
        // A tag can't be left out and leave a document: the stream ends here.
        skip(QString(), unitLine, unitBytes);
        stopped = true;
        return;
    }
    if (state == State::Tag) {
        if (unitAt >= 0) {
            noteTag(d + unitAt, p - unitAt);
        } else {
            flush(d, p);
            noteTag(output.constData() + unitStart, output.size() - unitStart);
        }
        if (deep) {
            // The element too deep is not handed on, nor anything after it.
            drop(d, p);
            stopped = true;
            return;
        }
    }
    state = State::Text;
    startUnit(p);
}

// Lines are counted only where a value is left out, or once a block is done.
qint64 BoundedXmlDevice::lineOf(const char *d, qsizetype p) const
{
    return blockLine + lineBreaks(d, p);
}

// The content that follows a start tag is its element's; after an end tag or
// an empty element it is the space between elements.
void BoundedXmlDevice::noteTag(const char *tag, qsizetype size)
{
    if (size >= 2 && (tag[1] == '/' || tag[size - 2] == '/')) {
        if (tag[1] == '/' && depth > 0)
            --depth;
        element.clear();
        textCapHere = textLimit;
        return;
    }
    qsizetype end = 1;
    while (end < size && tag[end] != '/' && tag[end] != '>' && tag[end] != ' ' && tag[end] != '\t' &&
           tag[end] != '\r' && tag[end] != '\n')
        ++end;
    if (++depth > maxDepth) {
        deep = true;
        return;
    }
    element.assign(tag + 1, size_t(end - 1)); // short names: no allocation
    textCapHere = end == 5 && std::memcmp(tag + 1, "data", 4) == 0 ? dataLimit : textLimit;
}

void BoundedXmlDevice::skip(const QString &what, qint64 at, qint64 bytes)
{
    ++skips;
    if (skippedValues.size() < maxListed)
        skippedValues.append({what, at, bytes});
}
