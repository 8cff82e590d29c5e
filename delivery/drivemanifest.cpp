#include "delivery/drivemanifest.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryFile>

#include <cerrno>

#include "platform/safefilecopy.h"

const QString DriveManifest::fileName = QStringLiteral(".corvane-sources.json");

namespace {

// Far beyond any real record: a larger file is not ours, and is not read.
constexpr qint64 largestRecord = 64 * 1024 * 1024;

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
    QFile file(root + QLatin1Char('/') + fileName);
    if (file.size() > largestRecord || !file.open(QIODevice::ReadOnly))
        return;
    const QJsonObject files = QJsonDocument::fromJson(file.readAll()).object().value(QLatin1String("files")).toObject();
    for (auto it = files.constBegin(); it != files.constEnd(); ++it) {
        const QString source = it.value().toString();
        if (!source.isEmpty())
            sources.insert(fold ? it.key().toCaseFolded() : it.key(), source);
    }
}

QString DriveManifest::sourceOf(const QString &path) const
{
    return sources.value(key(path));
}

void DriveManifest::record(const QString &path, const QString &source)
{
    QString &entry = sources[key(path)];
    dirty = dirty || entry != source;
    entry = source;
}

bool DriveManifest::save(quint64 device, int *error)
{
    QJsonObject files;
    for (auto it = sources.cbegin(); it != sources.cend(); ++it) {
        if (QFileInfo(root + QLatin1Char('/') + it.key()).isFile())
            files.insert(it.key(), it.value());
    }
    QJsonObject record;
    record.insert(QLatin1String("files"), files);
    const QByteArray bytes = QJsonDocument(record).toJson(QJsonDocument::Compact);

    // Through the same copy as the media: a temporary file beside the
    // target, renamed over it once complete, on the job's own volume.
    QTemporaryFile local;
    if (!local.open() || local.write(bytes) != bytes.size() || !local.flush()) {
        *error = errno ? errno : EIO;
        return false;
    }
    if (SafeFileCopy::copy(local.fileName(), root + QLatin1Char('/') + fileName, error, device) != SafeFileCopy::Copied)
        return false;
    dirty = false;
    return true;
}
