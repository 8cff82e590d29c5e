#include "core/scanpictures.h"

#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>

#include "core/taglibbuilder.h"

namespace {
// A fixed non-zero seed: Qt then hashes with AES rounds where the processor
// has them, many bytes per cycle.
constexpr size_t pictureSeed = 0x9e3779b97f4a7c15u;
// Pictures taken lately, kept for other albums with the same bytes (the
// discs of a set lie next to each other in the walk).
constexpr int recentPictures = 64;
} // namespace

ScanPictures::ScanPictures(const std::atomic<bool> *stopFlag) : stop(stopFlag), recent(recentPictures) {}

ScanPictures::Key ScanPictures::keyOf(const QString &path, const EmbeddedPicture &picture)
{
    Key key;
    if (!picture.known) {
        key.path = path;
    } else {
        key.size = qsizetype(picture.bytes.size());
        if (key.size > 0)
            key.hash = qHashBits(picture.bytes.data(), picture.bytes.size(), pictureSeed);
    }
    return key;
}

void ScanPictures::offer(int media, std::optional<File> file)
{
    std::optional<Offered> offered;
    QList<std::shared_ptr<Album>> started;
    QMutexLocker locker(&mutex);
    if (file) {
        const EmbeddedPicture &picture = file->picture;
        offered = Offered{file->coverPath, file->path, Key(), !picture.known || !picture.bytes.isEmpty()};
        // A file of an album whose picture file is there or made is never
        // tried: it needs no key.
        if (offered->hasPicture) {
            const std::shared_ptr<Album> album = albums.value(file->coverPath);
            auto claim = claimed.constFind(file->coverPath);
            if (claim == claimed.cend())
                claim = claimed.insert(file->coverPath, media);
            const int firstRead = claim.value();
            if (!present.contains(file->coverPath) && !(album && album->settled))
                prepare(media, *offered, *file, firstRead, locker);
        }
    }
    // Whoever brings in the next file considers it and those after it that
    // are in: the files are considered in walk order.
    if (media != nextMedia) {
        waiting.insert(media, std::move(offered));
        return;
    }
    if (offered)
        consider(nextMedia, *offered, started);
    ++nextMedia;
    for (auto next = waiting.find(nextMedia); next != waiting.end(); next = waiting.find(nextMedia)) {
        if (next.value())
            consider(nextMedia, *next.value(), started);
        waiting.erase(next);
        ++nextMedia;
    }
    locker.unlock();
    // Tried here, not queued on the pool behind the reading of more files:
    // the scan thread is about to ask for them.
    for (const std::shared_ptr<Album> &album : std::as_const(started))
        tryCandidates(album.get());
}

void ScanPictures::prepare(int media, Offered &offered, const File &file, int firstRead, QMutexLocker<QMutex> &locker)
{
    const bool first = media == firstRead;
    if (media > firstRead) {
        // Tried only if the picture of the first file read doesn't decode:
        // hashing its 50-150 KB now would be for nothing nearly always.
        offered.key = keyOf(file.path, EmbeddedPicture());
        return;
    }
    locker.unlock();
    // The album's picture file there at first sight: neither this file nor
    // the album's later ones will be tried.
    const bool there = first && QFileInfo::exists(file.coverPath);
    if (there) {
        locker.relock();
        if (!albums.contains(file.coverPath)) {
            present.insert(file.coverPath);
            return;
        }
        locker.unlock();
    }
    offered.key = keyOf(file.path, file.picture);
    locker.relock();
    // The reader of an album's first file with a picture makes it now, while
    // it holds the bytes, unless these bytes are made already.
    const Key &key = offered.key;
    if (!first || there || made.contains(key) || undecodable.contains(key) || recent.contains(key))
        return;
    const auto making = std::make_shared<Made>();
    made.insert(key, making);
    locker.unlock();
    const EmbeddedPicture &picture = file.picture;
    const QByteArray png = picture.known ? TagLibBuilder::pictureToPng(QByteArray::fromRawData(
                                               picture.bytes.data(), qsizetype(picture.bytes.size())))
                                         : TagLibBuilder::coverArtPng(file.path);
    locker.relock();
    making->png = png;
    making->done = true;
    changed.wakeAll();
}

void ScanPictures::consider(int media, const Offered &file, QList<std::shared_ptr<Album>> &started)
{
    if (present.contains(file.coverPath))
        return;
    std::shared_ptr<Album> &album = albums[file.coverPath];
    if (!album) {
        if (QFileInfo::exists(file.coverPath)) {
            albums.remove(file.coverPath);
            present.insert(file.coverPath);
            return;
        }
        album = std::make_shared<Album>();
        album->coverPath = file.coverPath;
    }
    if (album->settled)
        return; // made (or stopped): the album's later files find the picture file
    if (!file.hasPicture) {
        album->withoutPicture.insert(media);
        return;
    }
    album->candidates.append({media, file.path, file.key});
    if (!album->running) {
        album->running = true;
        started.append(album);
    }
}

ScanCover ScanPictures::outcome(int media, const QString &coverPath)
{
    QMutexLocker locker(&mutex);
    const std::shared_ptr<Album> album = albums.value(coverPath);
    if (!album)
        return ScanCover::NotRead;
    if (album->withoutPicture.contains(media))
        return ScanCover::NoPicture;
    const auto candidate = std::find_if(album->candidates.cbegin(), album->candidates.cend(),
                                        [media](const Candidate &c) { return c.media == media; });
    if (candidate == album->candidates.cend())
        return ScanCover::NotRead;
    const qsizetype index = candidate - album->candidates.cbegin();
    while (album->tried.size() <= index && !album->settled)
        changed.wait(&mutex);
    // Past the one that was written (when writing failed) or stopped: not tried.
    return index < album->tried.size() ? album->tried.at(index) : ScanCover::NotRead;
}

void ScanPictures::tryCandidates(Album *album)
{
    for (;;) {
        Candidate next;
        {
            const QMutexLocker locker(&mutex);
            if (!album->settled && stop->load(std::memory_order_relaxed))
                album->settled = true;
            if (album->settled || album->tried.size() == album->candidates.size()) {
                album->running = false;
                changed.wakeAll();
                return;
            }
            next = album->candidates.at(album->tried.size());
        }
        const QByteArray png = pngOf(next);
        const bool stopped = stop->load(std::memory_order_relaxed);
        ScanCover result = ScanCover::NoPicture;
        if (!png.isEmpty() && !stopped) {
            QDir().mkpath(QFileInfo(album->coverPath).absolutePath());
            result = TagLibBuilder::writeCoverArt(album->coverPath, png) ? ScanCover::Written : ScanCover::NotWritten;
        }
        const QMutexLocker locker(&mutex);
        if (png.isEmpty() || !stopped)
            album->tried.append(result);
        album->settled = result != ScanCover::NoPicture || stopped;
        changed.wakeAll();
    }
}

QByteArray ScanPictures::pngOf(const Candidate &candidate)
{
    const Key &key = candidate.key;
    std::shared_ptr<Made> making;
    {
        QMutexLocker locker(&mutex);
        if (undecodable.contains(key))
            return QByteArray();
        if (const std::shared_ptr<Made> ahead = made.value(key)) {
            while (!ahead->done)
                changed.wait(&mutex);
            // Taken: kept a while for other albums with the same bytes.
            if (made.value(key) == ahead) {
                made.remove(key);
                if (ahead->png.isEmpty())
                    undecodable.insert(key);
                else
                    recent.insert(key, new QByteArray(ahead->png));
            }
            return ahead->png;
        }
        if (const QByteArray *png = recent.object(key))
            return *png;
        // Nobody made it (its reader found it made, or the picture file
        // there, when it read it): from the file.  Another reader asking
        // meanwhile waits for this one.
        making = std::make_shared<Made>();
        made.insert(key, making);
    }
    const QByteArray png = TagLibBuilder::coverArtPng(candidate.path);
    const QMutexLocker locker(&mutex);
    making->png = png;
    making->done = true;
    made.remove(key);
    if (png.isEmpty())
        undecodable.insert(key);
    else
        recent.insert(key, new QByteArray(png));
    changed.wakeAll();
    return png;
}
