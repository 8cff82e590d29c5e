#ifndef BOUNDEDXMLDEVICE_H
#define BOUNDEDXMLDEVICE_H

#include <QByteArray>
#include <QIODevice>
#include <QList>
#include <QString>

#include <string>

// Reads an XML document from another device and hands it on with every value
// that is far beyond any real one left out, so that a reader on top of it
// never holds more than a cap of one value in memory.
//
// Everything between two tags (text, CDATA sections, comments, processing
// instructions) is one value: a reader joins it into one string, so it is
// capped as a whole and, over its cap, dropped whole (the element reads as
// empty).  A tag longer than the markup cap can't be dropped without breaking
// the document: the stream ends there and the reader sees a document cut
// short.  So does an element that opens deeper than the depth cap, since a
// reader holds every open element.  Memory stays within the caps plus one
// read block, whatever the file holds.
class BoundedXmlDevice : public QIODevice
{
public:
    // What was left out: the element whose text it was ("" for the space
    // between elements or a tag), the line it began on and its size in bytes.
    struct Skipped
    {
        QString element;
        qint64 line = 0;
        qint64 bytes = 0;
    };

    // `source` must be open for reading and outlive this device.  What stands
    // between the tags of a `data` element may hold up to dataLimit bytes, any
    // other up to textLimit; a tag or declaration up to dataLimit.  Elements
    // may nest up to depthLimit deep.
    BoundedXmlDevice(QIODevice *source, qint64 textLimit, qint64 dataLimit, int depthLimit = defaultDepthLimit);
    static constexpr int defaultDepthLimit = 64;

    bool isSequential() const override { return true; }
    bool atEnd() const override;
    qint64 bytesAvailable() const override;

    // The values left out so far (the first maxListed of them) and their count.
    const QList<Skipped> &skipped() const { return skippedValues; }
    int skippedCount() const { return skips; }
    // True when the stream was ended at a tag longer than the markup cap, or
    // at an element deeper than the depth cap.
    bool cutShort() const { return stopped; }
    // True when the stream was ended at an element deeper than the depth cap.
    bool tooDeep() const { return deep; }
    int depthLimit() const { return maxDepth; }
    static constexpr int maxListed = 50;

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 maxSize) override;

private:
    // Where the reading is: in the content between tags (its text, or inside
    // one of the markup kinds that belong to it), or in a tag or declaration.
    enum class State { Text, Comment, CData, Instruction, Tag, Declaration };

    void fill();
    qsizetype scan(const char *d, qsizetype n, bool final);
    qsizetype scanMarkup(const char *d, qsizetype p, qsizetype n);
    void startUnit(qsizetype p);
    void addContent(const char *d, qsizetype to);
    void addMarkup(const char *d, qsizetype to);
    void drop(const char *d, qsizetype to);
    void flush(const char *d, qsizetype to);
    void endContent(qsizetype p);
    void endMarkup(const char *d, qsizetype p);
    qint64 lineOf(const char *d, qsizetype p) const;
    void skip(const QString &element, qint64 line, qint64 bytes);
    void noteTag(const char *tag, qsizetype size);

    QIODevice *source;
    const qint64 textLimit;
    const qint64 dataLimit;
    const int maxDepth;

    QByteArray block;       // bytes not yet scanned, then one read from the source
    qsizetype carried = 0;  // of them, kept from the last read until more tells
    // Handed on up to `unitStart`; the unit in hand after.  Kept bytes of the
    // block are copied in one go, from `copyFrom`, when the block is done or
    // something is dropped.
    QByteArray output;
    qsizetype outputRead = 0;
    qsizetype unitStart = 0;
    qsizetype copyFrom = 0;  // in the block
    qsizetype unitAt = -1;   // where the unit in hand began in the block, -1 before it
    qsizetype scanned = 0;   // in the block: what the unit in hand counts up to
    qint64 unitBytes = 0;    // of the unit in hand, dropped ones included
    qint64 unitLine = 1;     // where it began
    bool dropping = false;   // the unit in hand is over its cap
    State state = State::Text;
    char quote = 0;         // inside a quoted value of a tag or declaration
    int brackets = 0;       // open "[" of a declaration
    std::string element;    // the element the current content belongs to
    qint64 textCapHere;     // the cap of that content
    qint64 blockLine = 1;   // where the block begins
    bool sourceDone = false;
    bool stopped = false;
    bool deep = false;
    int depth = 0; // elements open
    QList<Skipped> skippedValues;
    int skips = 0;
};

#endif // BOUNDEDXMLDEVICE_H
