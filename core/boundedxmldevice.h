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
// The text of an element longer than its cap is dropped whole (the element
// reads as empty); so is an over-long CDATA section, comment or processing
// instruction.  A tag longer than the markup cap can't be dropped without
// breaking the document: the stream ends there and the reader sees a
// document cut short.  Memory stays within the caps plus one read block,
// whatever the file holds.
class BoundedXmlDevice : public QIODevice
{
public:
    // What was left out: the element whose text it was ("" for a comment or
    // similar), the line it began on and its size in bytes.
    struct Skipped
    {
        QString element;
        qint64 line = 0;
        qint64 bytes = 0;
    };

    // `source` must be open for reading and outlive this device.  The text of
    // a `data` element may hold up to dataLimit bytes, any other text (CDATA
    // sections included) up to textLimit; a tag, comment or processing
    // instruction up to dataLimit.
    BoundedXmlDevice(QIODevice *source, qint64 textLimit, qint64 dataLimit);

    bool isSequential() const override { return true; }
    bool atEnd() const override;
    qint64 bytesAvailable() const override;

    // The values left out so far (the first maxListed of them) and their count.
    const QList<Skipped> &skipped() const { return skippedValues; }
    int skippedCount() const { return skips; }
    // True when the stream was ended at a tag longer than the markup cap.
    bool cutShort() const { return stopped; }
    static constexpr int maxListed = 50;

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 maxSize) override;

private:
    enum class Mode { Text, SkipText, Markup, SkipMarkup };
    enum class Kind { Unknown, Tag, Comment, CData, Instruction, Declaration };

    void take(char c);
    void classify();
    bool markupEnds(char c);
    void endMarkup();
    void skip(const QString &element, qint64 line, qint64 bytes);
    QString elementName() const;
    void endText();
    void noteTag(const char *tag, qsizetype size);

    QIODevice *source;
    const qint64 textLimit;
    const qint64 dataLimit;

    QByteArray block;  // one read from the source
    QByteArray output; // ready to hand on
    qsizetype outputRead = 0;
    QByteArray pending;      // the text or markup unit in hand, within its cap
    qint64 pendingBytes = 0; // bytes of the unit in hand, dropped ones included
    qint64 pendingLine = 1;  // where it began
    Mode mode = Mode::Text;
    Kind kind = Kind::Unknown;
    char quote = 0;            // inside a quoted attribute value of a tag
    int brackets = 0;          // open "[" of a declaration
    char last1 = 0, last2 = 0; // the unit's last bytes, while dropped ones are not kept
    std::string element;       // the element the current text belongs to
    qint64 textCapHere;        // the cap of its text
    qint64 line = 1;
    bool sourceDone = false;
    bool stopped = false;
    QList<Skipped> skippedValues;
    int skips = 0;
};

#endif // BOUNDEDXMLDEVICE_H
