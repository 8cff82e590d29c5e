#include "delivery/drivemanifest.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

#include "delivery/drivefile.h"
#include <sys/stat.h>

const QString DriveManifest::fileName = QStringLiteral(".corvane-sources.json");

namespace {

// Far beyond any real record: a larger file is not ours, and is not read.
constexpr qint64 largestRecord = 64 * 1024 * 1024;
// Far more files than a stick holds: entries past these vouch for nothing.
// The bound is on the values parsed, since a small file can hold millions
// of tiny entries and each costs far more in memory than in the file.
constexpr int mostEntries = 200000;
constexpr int mostValuesPerEntry = 8;

const QLatin1String sourceField("source");
const QLatin1String sizeField("size");
const QLatin1String writingField("writing");

// A relative name that stays below the folder it is read from.
bool isNameBelowRoot(const QString &name)
{
    return !name.isEmpty() && !QDir::isAbsolutePath(name) && QDir::cleanPath(name) == name &&
           name != QLatin1String("..") && !name.startsWith(QLatin1String("../"));
}

// The record's text cut after its first `mostEntries` entries of "files"
// (or as many values in all), closed again so it parses; "" when the cut
// falls inside an entry, where no whole record can be made of it.
QByteArray boundedRecord(const QByteArray &text)
{
    int depth = 0;
    int entries = 0;
    qint64 values = 0;
    bool inString = false;
    bool escaped = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text.at(i);
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
            continue;
        }
        switch (c) {
        case '"':
            inString = true;
            break;
        case '{':
        case '[':
            ++depth;
            break;
        case '}':
        case ']':
            --depth;
            break;
        case ',': {
            const bool entryEnds = depth == 2;
            entries += entryEnds ? 1 : 0;
            if (++values >= qint64(mostEntries) * mostValuesPerEntry || entries >= mostEntries)
                return entryEnds ? text.left(i) + "}}" : QByteArray();
            break;
        }
        default:
            break;
        }
    }
    return text;
}

} // namespace

QString DriveManifest::key(const QString &path) const
{
    const QString relative = QDir(root).relativeFilePath(path);
    return fold ? relative.toCaseFolded() : relative;
}

void DriveManifest::load(const QString &mediaRoot, bool foldCase)
{
    root = QDir::cleanPath(mediaRoot);
    fold = foldCase;
    dirty = false;
    sources.clear();
    const QString path = root + QLatin1Char('/') + fileName;
    // Only a plain file is read: a device or a pipe under this name would
    // never end.
    const QFileInfo info(path);
    if (!info.isFile() || info.size() > largestRecord)
        return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QJsonObject files =
        QJsonDocument::fromJson(boundedRecord(file.readAll())).object().value(QLatin1String("files")).toObject();
    for (auto it = files.constBegin(); it != files.constEnd(); ++it) {
        // An entry without its file's size (a record of an older form, or a
        // size that is no size) can't be checked against the file: it
        // vouches for nothing, and the file is judged by its bytes.
        const QJsonObject fields = it.value().toObject();
        Entry entry;
        entry.source = fields.value(sourceField).toString();
        entry.size = fields.value(sizeField).toInteger(-1);
        entry.writing = fields.value(writingField).toBool();
        // The record is outside input: only a name below the media root is
        // one of ours.
        if ((entry.size >= 0 || entry.writing) && !entry.source.isEmpty() && isNameBelowRoot(it.key()))
            sources.insert(fold ? it.key().toCaseFolded() : it.key(), entry);
    }
}

QString DriveManifest::sourceOf(const QString &path) const
{
    const auto entry = sources.constFind(key(path));
    if (entry == sources.cend() || entry->writing || QFileInfo(path).size() != entry->size)
        return QString();
    return entry->source;
}

void DriveManifest::record(const QString &path, const QString &source)
{
    Entry &entry = sources[key(path)];
    const QFileInfo file(path);
    const qint64 size = file.size();
    dirty = dirty || entry.source != source || entry.size != size || entry.writing;
    entry.source = source;
    entry.size = size;
    entry.writing = false;
    entry.sizedNow = file.isFile();
}

void DriveManifest::begin(const QString &path, const QString &source)
{
    Entry &entry = sources[key(path)];
    dirty = dirty || entry.source != source || !entry.writing;
    entry.source = source;
    entry.size = -1;
    entry.writing = true;
    entry.sizedNow = false;
}

void DriveManifest::dropUnstarted()
{
    for (auto it = sources.begin(); it != sources.end();) {
        struct stat st
        {
        };
        if (it->writing && ::lstat(QFile::encodeName(root + QLatin1Char('/') + it.key()).constData(), &st) != 0) {
            it = sources.erase(it);
            dirty = true;
        } else {
            ++it;
        }
    }
}

bool DriveManifest::begun(const QString &path, const QString &source) const
{
    const auto entry = sources.constFind(key(path));
    return entry != sources.cend() && entry->writing && entry->source == source;
}

bool DriveManifest::unfinished(const QString &path) const
{
    const auto entry = sources.constFind(key(path));
    return entry != sources.cend() && entry->writing;
}

QString DriveManifest::fileMadeFrom(const QString &source, const QString &folder) const
{
    const QString prefix = (fold ? folder.toCaseFolded() : folder) + QLatin1Char('/');
    for (auto it = sources.cbegin(); it != sources.cend(); ++it) {
        if (it->source != source || !it.key().startsWith(prefix) || it.key().indexOf(QLatin1Char('/'), prefix.size()) >= 0)
            continue;
        // Folded keys lose the name's spelling: the drive's listing has it.
        const QDir dir(root + QLatin1Char('/') + folder);
        QString name = it.key().mid(prefix.size());
        if (fold) {
            const QStringList names = dir.entryList(QDir::Files | QDir::Hidden);
            const auto found = std::find_if(names.cbegin(), names.cend(),
                                            [&name](const QString &n) { return n.toCaseFolded() == name; });
            if (found == names.cend())
                continue;
            name = *found;
        }
        const QFileInfo file(dir.filePath(name));
        if (file.isFile() && file.size() == it->size)
            return folder + QLatin1Char('/') + name;
    }
    return QString();
}

bool DriveManifest::save(quint64 device, int *error, bool durable)
{
    QJsonObject files;
    for (auto it = sources.cbegin(); it != sources.cend(); ++it) {
        if (it->writing) {
            QJsonObject fields;
            fields.insert(sourceField, it->source);
            fields.insert(writingField, true);
            files.insert(it.key(), fields);
            continue;
        }
        // An entry whose file changed size since is no longer known to hold
        // its song: writing it with the new size would vouch for another.
        if (!it->sizedNow) {
            const QFileInfo file(root + QLatin1Char('/') + it.key());
            if (!file.isFile() || file.size() != it->size)
                continue;
        }
        QJsonObject fields;
        fields.insert(sourceField, it->source);
        fields.insert(sizeField, it->size);
        files.insert(it.key(), fields);
    }
    QJsonObject record;
    record.insert(QLatin1String("files"), files);
    const QByteArray bytes = QJsonDocument(record).toJson(QJsonDocument::Compact);
    if (!DriveFile::write(root + QLatin1Char('/') + fileName, bytes, device, error, durable))
        return false;
    dirty = false;
    return true;
}
