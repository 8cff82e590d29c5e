#include "delivery/ffmpeghandler.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFuture>
#include <QHash>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QSet>
#include <QStorageInfo>
#include <QThread>
#include <QThreadPool>
#include <QXmlStreamReader>
#include <QtConcurrent/QtConcurrentRun>

#include <taglib/fileref.h>
#include <taglib/tag.h>
#include <taglib/tstring.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "core/logging.h"
#include "database/connection.h"
#include "database/ruvodb.h"
#include "database/transaction.h"
#include "delivery/combo.h"
#include "delivery/madefiles.h"
#include "database/filejournal.h"
#include "platform/atomicfile.h"
#include "platform/externalprogram.h"
#include "platform/regularfile.h"
#include "platform/temporaryfiles.h"

Q_LOGGING_CATEGORY(lcConverter, "corvane.delivery.converter")

namespace {

// Fixed output settings of every conversion.
const QString bitrateKbps = QStringLiteral("256");
const QString sampleRateHz = QStringLiteral("44100");

QString removeChars(QString text, const QRegularExpression &set)
{
    text.remove(set);
    text.remove(QLatin1Char('"'));
    return text.trimmed();
}

QString textOf(const QXmlStreamAttributes &attributes, const char *name)
{
    return attributes.value(QLatin1String(name)).toString();
}

QString toQString(const TagLib::String &text)
{
    return QString::fromStdWString(text.toWString());
}

TagLib::String toTString(const QString &text)
{
    return TagLib::String(text.toStdWString());
}

// Length of an ID3v2 tag at the start of `head`, 0 when there is none.
qint64 id3Length(const QByteArray &head)
{
    if (head.size() < 10 || !head.startsWith("ID3"))
        return 0;
    const auto b = [&head](int i) { return qint64(quint8(head.at(i))) & 0x7f; };
    const qint64 body = (b(6) << 21) | (b(7) << 14) | (b(8) << 7) | b(9);
    const bool footer = quint8(head.at(5)) & 0x10;
    return 10 + body + (footer ? 10 : 0);
}

bool isMpegLayer3Frame(const QByteArray &bytes)
{
    if (bytes.size() < 4)
        return false;
    const quint8 b0 = quint8(bytes.at(0)), b1 = quint8(bytes.at(1)), b2 = quint8(bytes.at(2));
    return b0 == 0xff && (b1 & 0xe0) == 0xe0      // frame sync
           && ((b1 >> 3) & 3) != 1                // version not reserved
           && ((b1 >> 1) & 3) == 1                // layer III
           && (b2 >> 4) != 0x0f && (b2 >> 4) != 0 // bit-rate index valid, not free format
           && ((b2 >> 2) & 3) != 3;               // sampling rate valid
}

// The disk starts writing a finished conversion while the next ones run;
// the batch's flush still waits for all of it.  Only a hint: its failure is
// none.
void startWriteBack(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
    ::close(fd);
}

// The codec where the first bytes settle it; "" for anything else.
// `regular`, when given, tells whether the path names a regular file: a FIFO
// or a device is never opened so that it could block, nor read.
QString sniffCodec(const QString &path, bool *regular = nullptr)
{
    const int fd = RegularFile::open(path);
    if (regular)
        *regular = fd >= 0;
    QFile file;
    // Unbuffered: fourteen bytes are read, not a buffer's worth twice over.
    if (fd < 0 || !file.open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        if (fd >= 0)
            ::close(fd);
        return QString();
    }
    const QByteArray head = file.read(10);
    const qint64 start = id3Length(head);
    if (start > 0 && !file.seek(start))
        return QString();
    const QByteArray frame = start > 0 ? file.read(4) : head.left(4);
    if (frame.startsWith("fLaC"))
        return QStringLiteral("flac");
    if (isMpegLayer3Frame(frame))
        return QStringLiteral("mp3");
    return QString();
}

} // namespace

ffmpeghandler::ffmpeghandler(QObject *parent)
    : QObject(parent)
{
}

ffmpeghandler::~ffmpeghandler() = default;

// ---- Codec list -------------------------------------------------------------

QList<Details> ffmpeghandler::readSystemCodecs(const QString &systemName, const QString &systemsXml)
{
    QList<Details> codecs{{QStringLiteral("mp3"), QStringLiteral("mp3"), QStringLiteral("mp3")}};

    QFile file(systemsXml.isEmpty() ? Combo::defaultSystemsPath() : systemsXml);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        qDebug() << "Load XML File Problem.";

    QXmlStreamReader reader(&file);
    bool systemFound = false;
    bool inAudio = false;
    while (file.isOpen() && !reader.atEnd() && !reader.hasError()) {
        const auto token = reader.readNext();
        if (token == QXmlStreamReader::EndElement && inAudio && reader.name() == QLatin1String("Audio"))
            break;
        if (token != QXmlStreamReader::StartElement)
            continue;
        const auto attributes = reader.attributes();
        if (reader.name() == QLatin1String("System")) {
            if (systemFound)
                break; // the next system: the named one had no audio block
            systemFound = textOf(attributes, "name") == systemName;
        } else if (systemFound && reader.name() == QLatin1String("Audio")) {
            inAudio = true;
        } else if (inAudio && reader.name() == QLatin1String("Codec")) {
            const QString name = textOf(attributes, "name");
            if (name.isEmpty())
                continue;
            const QString description = textOf(attributes, "description");
            const QStringList extensions = textOf(attributes, "extension").split(QLatin1Char(','));
            for (const QString &extension : extensions)
                codecs.append({name, extension, description});
        }
    }
    lstCodecDetail = codecs;
    return codecs;
}

QList<Details> ffmpeghandler::codecListFor(const SystemDetails &system)
{
    QList<Details> codecs{{QStringLiteral("mp3"), QStringLiteral("mp3"), QStringLiteral("mp3")}};
    for (const Details &codec : system.audioCodecs) {
        if (codec.name.isEmpty())
            continue;
        const QStringList extensions = codec.extension.split(QLatin1Char(','));
        for (const QString &extension : extensions)
            codecs.append({codec.name, extension, codec.description});
    }
    return codecs;
}

// ---- Probe and decision -------------------------------------------------------

QString ffmpeghandler::askForCodec(const QString &path) const
{
    // MP3 and FLAC, most of a collection, say so in their first bytes: no
    // ffprobe run for them.
    bool regular = false;
    const QString sniffed = sniffCodec(path, &regular);
    // ffprobe would wait on a FIFO until its time runs out.
    if (!sniffed.isEmpty() || !regular)
        return sniffed;
    ExternalProgram probe(ExternalProgram::Ffprobe);
    probe.setStopFlag(&diskfull);
    const ExternalProgram::Result result =
        probe.run({QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"),
                   QStringLiteral("a:0"), QStringLiteral("-show_entries"), QStringLiteral("stream=codec_name"),
                   QStringLiteral("-of"), QStringLiteral("default=nw=1:nk=1"), path},
                  probeTimeoutMs);
    // ffprobe names a codec after the extension even for a file it finds no
    // frame in ("Header missing" and the like): such a file is not that codec.
    if (!result.succeeded() || !result.standardError.trimmed().isEmpty())
        return QString();
    QByteArray output = result.standardOutput.trimmed();
    const int nul = output.indexOf('\0');
    if (nul >= 0)
        output.truncate(nul);
    // One stream was asked for; keep the first line should ffprobe print more.
    const int newline = output.indexOf('\n');
    if (newline >= 0)
        output.truncate(newline);
    const QString codec = QString::fromLatin1(output.trimmed());
    // ffprobe takes a file of zeros named .mp3 for an MP3 without a word; a
    // real MP3 or FLAC shows its frame in its first bytes, which the sniff
    // above found not.  Such a file goes to the converter, which tells.
    if (codec == QLatin1String("mp3") || codec == QLatin1String("flac"))
        return QString();
    return codec;
}

bool ffmpeghandler::needsTranscode(const QString &probedCodec, bool isVideo, const QList<Details> &codecs)
{
    if (isVideo)
        return false;
    for (const Details &codec : codecs) {
        if (codec.name == probedCodec)
            return false;
    }
    return true;
}

// ---- Names and command line -------------------------------------------------

QString ffmpeghandler::cacheAlbumFolder(const QString &albumName)
{
    static const QRegularExpression folderChars(QStringLiteral("[!/\\:*?<>|+.]"));
    const QString folder = removeChars(albumName.trimmed(), folderChars);
    return folder.isEmpty() ? QStringLiteral("Unknown Album") : folder;
}

QString ffmpeghandler::cacheFileName(const track &t)
{
    static const QRegularExpression fileChars(QStringLiteral("[!/\\:#*?<>|+.]"));
    QString name = removeChars(t.trackname, fileChars);
    if (name.isEmpty()) // a title-less track must not become a hidden ".mp3"
        name = removeChars(QFileInfo(t.sourcePath.isEmpty() ? t.filepath : t.sourcePath).completeBaseName(),
                           fileChars);
    return name.isEmpty() ? QStringLiteral("Unknown Song") : name;
}

QString ffmpeghandler::cacheFolder()
{
    return ruvoDB::programCopyFolder() + QStringLiteral("/Transcoded Media");
}

QString ffmpeghandler::cacheTarget(const track &t)
{
    // A folder name has the file system's limit too: a long album tag is
    // shortened, never refused.
    return cacheFolder() + QLatin1Char('/') + TemporaryFiles::fitName(QString(), cacheAlbumFolder(t.albumName), QString()) +
           QLatin1Char('/') + cacheFileName(t);
}

ffmpeghandler::Encoding ffmpeghandler::encodingFor(const QString &codecName, const QString &extension,
                                                    const QString &sourcePath)
{
    const QString lower = sourcePath.toLower();
    if (lower.endsWith(QLatin1String(".avi")) || lower.endsWith(QLatin1String(".ogg"))
        || lower.endsWith(QLatin1String(".mp4")))
        return {QStringLiteral("libmp3lame"), QStringLiteral("mp3"), QStringLiteral("mp3")};

    const QString name = codecName.toLower();
    // Debian's ffmpeg has neither libfaac nor libvo_aacenc: its own aac
    // encoder takes their place.
    if (name == QLatin1String("aac") || name == QLatin1String("libfaac") || name == QLatin1String("libvo_aacenc"))
        return {QStringLiteral("aac"), extension, QStringLiteral("aac")};
    if (name == QLatin1String("mp3") || name == QLatin1String("libmp3lame"))
        return {QStringLiteral("libmp3lame"), extension, QStringLiteral("mp3")};
    return {codecName, extension, codecName};
}

QStringList ffmpeghandler::conversionArguments(const QString &source, const QString &encoder, const QString &output)
{
    return {QStringLiteral("-y"), QStringLiteral("-i"), source, QStringLiteral("-vn"), QStringLiteral("-acodec"),
            encoder, QStringLiteral("-ab"), bitrateKbps + QLatin1Char('k'), QStringLiteral("-ar"), sampleRateHz,
            output};
}

// ---- Conversion -------------------------------------------------------------

namespace {

// Whether a failed run failed because its volume is full: ffmpeg says so, or
// the partial output took the last of the room.
bool volumeFull(const ExternalProgram::Result &run, const QString &folder)
{
    if (run.standardError.contains("No space left on device"))
        return true;
    const QStorageInfo volume(folder);
    return volume.isValid() && volume.bytesAvailable() < 64 * 1024;
}

} // namespace

ffmpeghandler::Conversion ffmpeghandler::convert(const QString &source, const QString &targetBase,
                                                 const QString &codecName, const QString &extension,
                                                 const QList<Details> &fallbacks) const
{
    return convertFile(source, targetBase, codecName, extension, fallbacks, nullptr);
}

ffmpeghandler::Conversion ffmpeghandler::convertFile(const QString &source, const QString &targetBase,
                                                     const QString &codecName, const QString &extension,
                                                     const QList<Details> &fallbacks, FileWork *work) const
{
    Conversion conversion;
    const QFileInfo targetInfo(targetBase);
    if (!CreateDir(targetInfo.absolutePath())) {
        qCWarning(lcConverter) << "cannot create" << targetInfo.absolutePath();
        conversion.outcome = volumeFull({}, targetInfo.absolutePath()) ? NoRoom : Failed;
        return conversion;
    }
    const int timeoutMs = conversionBaseTimeoutMs
        + int(qMin<qint64>(4 * QFileInfo(source).size() / 1024, 3600000)); // ~4 ms per KiB, bounded
    const MadeFiles::Source origin = MadeFiles::Source::of(source);

    ExternalProgram ffmpeg(ExternalProgram::Ffmpeg);
    ffmpeg.setStopFlag(&diskfull);

    // First the system's own codec, then the fall-back list in order.
    QList<Details> attempts{{codecName, extension, QString()}};
    attempts += fallbacks;
    bool firstAttempt = true;
    for (const Details &attempt : attempts) {
        if (stopRequested()) {
            conversion.outcome = Stopped;
            return conversion;
        }
        const Encoding encoding = encodingFor(attempt.name, attempt.extension, source);
        // The output of this very source is taken as it is; another song's
        // output of the same name is left alone and this one gets a free name.
        // A title too long for a file name is shortened, never refused.
        const QString wanted = targetInfo.path() + QLatin1Char('/') +
                               TemporaryFiles::fitName(QString(), targetInfo.fileName(),
                                                       QLatin1Char('.') + encoding.extension);
        // The job may have claimed and written down the first output already.
        const bool noted = work && firstAttempt && !work->noted.isEmpty();
        firstAttempt = false;
        MadeFiles::Claim output;
        if (noted) {
            output.path = work->noted;
            work->notedTaken = true;
        } else {
            output = MadeFiles::claim(wanted, origin);
        }
        conversion.outputPath = output.path;
        conversion.codecName = encoding.codecName;
        if (output.reuse) {
            conversion.outcome = AlreadyConverted;
            return conversion;
        }
        if (!noted && journalOutputs && !FileJournal::note({output.path})) {
            MadeFiles::release(output.path);
            conversion.outputPath.clear();
            conversion.outcome = Failed;
            conversion.reason = QStringLiteral("it could not be stored in the library");
            return conversion;
        }
        // ffmpeg picks the container from the partial file's extension.  The
        // name is claimed: nothing else is put there meanwhile.
        // The library job's outputs are flushed a batch at a time by the job.
        const auto partial = std::make_shared<AtomicFile>(
            output.path, AtomicFile::Replace::Never, work ? AtomicFile::Flush::Batch : AtomicFile::Flush::Now,
            encoding.extension);
        ++conversion.attempts;
        ExternalProgram::Result run;
        if (partial->open() && partial->close())
            run = ffmpeg.run(conversionArguments(source, encoding.encoder, partial->temporaryPath()), timeoutMs);
        if (run.succeeded() && QFileInfo(partial->temporaryPath()).size() > 0) {
            if (work) {
                // Tags, name and flush are the job thread's: this slot
                // goes on with the next file.
                startWriteBack(partial->temporaryPath());
                work->partial = partial;
                work->origin = origin;
                conversion.outcome = Converted;
                return conversion;
            }
            UpdateTag(source, partial->temporaryPath());
            if (partial->commit()) {
                MadeFiles::made(output.path, origin);
                conversion.outcome = Converted;
                return conversion;
            }
        }
        const bool full = !run.succeeded() && !run.stopped && volumeFull(run, targetInfo.absolutePath());
        partial->discard();
        if (journalOutputs)
            FileJournal::settle(ruvoDB::programCopyFolder(), {output.path});
        MadeFiles::release(output.path);
        conversion.outputPath.clear();
        if (run.stopped) {
            conversion.outcome = Stopped;
            return conversion;
        }
        if (full) {
            // Another codec wouldn't fit either.
            conversion.outcome = NoRoom;
            return conversion;
        }
        qCDebug(lcConverter) << "attempt with" << encoding.encoder << "failed for" << source << "exit"
                             << run.exitCode << (run.started ? "" : "(not started)");
    }
    conversion.outcome = Failed;
    return conversion;
}

bool ffmpeghandler::UpdateTag(const QString &sourcefilePath, const QString &targetfilePath)
{
    const QByteArray sourceName = QFile::encodeName(sourcefilePath);
    const QByteArray targetName = QFile::encodeName(targetfilePath);
    TagLib::FileRef source(sourceName.constData(), false);
    if (source.isNull() || !source.tag() || source.tag()->isEmpty())
        return false;
    TagLib::FileRef target(targetName.constData(), false);
    if (target.isNull() || !target.tag())
        return false;
    const TagLib::Tag *from = source.tag();
    TagLib::Tag *to = target.tag();
    // Saving what is there already would only write the file again.
    if (to->title() == from->title() && to->artist() == from->artist() && to->album() == from->album() &&
        to->genre() == from->genre() && to->year() == from->year() && to->track() == from->track())
        return true;
    to->setTitle(toTString(toQString(from->title())));
    to->setArtist(toTString(toQString(from->artist())));
    to->setAlbum(toTString(toQString(from->album())));
    to->setGenre(toTString(toQString(from->genre())));
    to->setYear(from->year());
    to->setTrack(from->track());
    return target.save();
}

bool ffmpeghandler::CreateDir(const QString &path)
{
    return QDir().mkpath(path) && QFileInfo(path).isDir();
}

// ---- Stop -------------------------------------------------------------------

void ffmpeghandler::stop()
{
    diskfull = true;
}

bool ffmpeghandler::isStopped() const
{
    return stopRequested();
}

bool ffmpeghandler::stopRequested() const
{
    return diskfull.load() || (linkedStop && linkedStop->load());
}

// ---- Library job ------------------------------------------------------------

QList<track> ffmpeghandler::checkSystemCompatibilityOnOk(TrackMap tracks, transferDetail detail) const
{
    Q_UNUSED(detail)
    QList<track> work;
    for (auto it = tracks.cbegin(); it != tracks.cend(); ++it) {
        if (stopRequested())
            break;
        if (QFileInfo(it->sourcePath).isFile())
            work.append(it.value());
    }
    return work;
}

bool ffmpeghandler::hasAudioPackets(const QString &path) const
{
    ExternalProgram probe(ExternalProgram::Ffprobe);
    probe.setStopFlag(&diskfull);
    const ExternalProgram::Result result =
        probe.run({QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-count_packets"),
                   QStringLiteral("-select_streams"), QStringLiteral("a:0"), QStringLiteral("-show_entries"),
                   QStringLiteral("stream=nb_read_packets"), QStringLiteral("-of"),
                   QStringLiteral("default=nw=1:nk=1"), path},
                  probeTimeoutMs);
    bool number = false;
    const qint64 packets = QString::fromLatin1(result.standardOutput.trimmed()).toLongLong(&number);
    // A probe that could not run says nothing about the file.
    return !result.succeeded() ? result.started == false : number && packets > 0;
}

void ffmpeghandler::workOnFile(FileWork &work, const SystemDetails &system) const
{
    if (stopRequested()) {
        work.result.outcome = Stopped;
        return;
    }
    // A file that can't be read is told as such, not as a failed conversion;
    // one swapped for a FIFO or a device is never handed to a tool that
    // would wait on it.
    int error = 0;
    const int readable = RegularFile::open(work.record.sourcePath, &error);
    if (readable < 0) {
        work.convert = true;
        work.result.outcome = Failed;
        work.leftOut = Unreadable;
        work.result.reason = RegularFile::failure(error);
        return;
    }
    ::close(readable);
    const QString codec = askForCodec(work.record.sourcePath);
    work.convert = needsTranscode(codec, work.record.isVideo, lstCodecDetail);
    if (!work.convert)
        return;
    Logging::getInstance()->WriteLog(QStringLiteral("Transcoding File..") + work.record.sourcePath, QString());
    work.result = convertFile(work.record.sourcePath, cacheTarget(work.record), system.codec, system.audioExtension,
                              lstCodecDetail, &work);
    if (work.result.outcome == Failed && work.result.reason.isEmpty()) {
        // No audio ffprobe could name or read a packet of: nothing to
        // convert from (ffprobe names a codec after the extension alone).
        if (codec.isEmpty() || !hasAudioPackets(work.record.sourcePath)) {
            work.leftOut = Damaged;
            work.result.reason = QStringLiteral("it is damaged or not a media file");
        } else {
            work.result.reason = QStringLiteral("no format the car plays could be made of it");
        }
    }
}

void ffmpeghandler::noteOutputs(std::vector<FileWork> &files, const SystemDetails &system) const
{
    QStringList paths;
    for (FileWork &file : files) {
        // MP3 and FLAC tell their codec in their first bytes; any other file
        // may be converted.
        const QString codec = sniffCodec(file.record.sourcePath);
        if (!codec.isEmpty() && !needsTranscode(codec, file.record.isVideo, lstCodecDetail))
            continue;
        const QFileInfo target(cacheTarget(file.record));
        const Encoding encoding = encodingFor(system.codec, system.audioExtension, file.record.sourcePath);
        const QString wanted = target.path() + QLatin1Char('/') +
                               TemporaryFiles::fitName(QString(), target.fileName(),
                                                       QLatin1Char('.') + encoding.extension);
        const MadeFiles::Claim output = MadeFiles::claim(wanted, MadeFiles::Source::of(file.record.sourcePath));
        if (output.reuse)
            continue;
        file.noted = output.path;
        paths << output.path;
    }
    if (FileJournal::note(paths))
        return;
    // Each attempt writes its own output down, as one outside the job does.
    for (FileWork &file : files) {
        if (!file.noted.isEmpty())
            MadeFiles::release(file.noted);
        file.noted.clear();
    }
}

QList<track> ffmpeghandler::TranscodeOnOK(TrackMap tracks, transferDetail detail)
{
    qDebug() << "TranscodeOnOK...called";
    transcodedTracks.clear();
    diskfull = false;
    journalOutputs = true;

    const QList<track> work = checkSystemCompatibilityOnOk(tracks, detail);
    lstCodecDetail = codecListFor(detail.system);

    // A pool of the job's own: the job itself runs on the global pool and
    // must not wait there for work queued behind it.
    QThreadPool pool;
    pool.setMaxThreadCount(maxParallel > 0 ? maxParallel : qMax(1, QThread::idealThreadCount()));

    // Each source is converted once, however many tracks of the add name it
    // (one song in two playlists).
    QHash<QString, size_t> fileOfSource;
    std::vector<FileWork> files;
    files.reserve(size_t(work.size()));
    for (const track &t : work) {
        if (fileOfSource.contains(t.sourcePath))
            continue;
        fileOfSource.insert(t.sourcePath, files.size());
        FileWork file;
        file.record = t;
        files.push_back(file);
    }
    // Written down in one commit before any of them is made: a slot then
    // starts ffmpeg without waiting for the disk.
    noteOutputs(files, detail.system);

    std::vector<QFuture<void>> futures;
    futures.reserve(files.size());
    for (FileWork &file : files) {
        const SystemDetails *system = &detail.system;
        futures.push_back(QtConcurrent::run(&pool, [this, &file, system] { workOnFile(file, *system); }));
    }

    // Results are taken in the work list's order, so rows, signals and the
    // returned list keep it whatever order the files finish in.  Each turn
    // takes the next entry and those after it that are done already.
    const auto done = [&](qsizetype at) { return futures[fileOfSource.value(work.at(at).sourcePath)].isFinished(); };
    for (qsizetype next = 0; next < work.size();) {
        while (!done(next)) {
            if (linkedStop && linkedStop->load())
                diskfull = true;
            QThread::msleep(10);
        }
        qsizetype end = next + 1;
        while (end < work.size() && done(end))
            ++end;
        finishBatch(work, next, end, files, fileOfSource);
        next = end;
    }
    pool.waitForDone();

    // Names written down for files that never took them (not converted,
    // stopped before they began) leave the journal.
    QStringList unused;
    for (const FileWork &file : files) {
        if (!file.noted.isEmpty() && !file.notedTaken) {
            MadeFiles::release(file.noted);
            unused << file.noted;
        }
    }
    if (!unused.isEmpty())
        FileJournal::settle(ruvoDB::programCopyFolder(), unused);

    const auto attempted =
        std::count_if(files.cbegin(), files.cend(), [](const FileWork &f) { return f.convert && f.result.outcome != Stopped; });
    Logging::getInstance()->WriteLog(QString::number(attempted) + QStringLiteral(" File Transcoding Done"),
                                     QString());
    return transcodedTracks;
}

void ffmpeghandler::dropOutput(FileWork &file, const QString &reason) const
{
    const QString output = file.result.outputPath;
    if (file.partial)
        file.partial->discard();
    file.partial.reset();
    FileJournal::settle(ruvoDB::programCopyFolder(), {output});
    MadeFiles::release(output);
    file.result.outputPath.clear();
    file.result.outcome = Failed;
    file.result.reason = reason;
}

void ffmpeghandler::finishBatch(const QList<track> &work, qsizetype first, qsizetype end,
                                std::vector<FileWork> &files, const QHash<QString, size_t> &fileOfSource)
{
    const auto fileAt = [&](qsizetype at) -> FileWork & { return files[fileOfSource.value(work.at(at).sourcePath)]; };
    const QString notWritten = QStringLiteral("it could not be written to the disk");

    // The outputs get their tags and names; then the batch is flushed once,
    // before anything records them.
    std::vector<FileWork *> placed;
    for (qsizetype at = first; at < end; ++at) {
        FileWork &file = fileAt(at);
        if (!file.partial || file.result.outcome != Converted)
            continue;
        UpdateTag(file.record.sourcePath, file.partial->temporaryPath());
        if (!file.partial->commit()) {
            dropOutput(file, notWritten);
            continue;
        }
        file.partial.reset();
        placed.push_back(&file);
    }
    if (!placed.empty()) {
        bool flushed = true;
        QSet<dev_t> synced;
        for (FileWork *file : placed) {
            struct stat st {};
            const bool known = ::stat(QFile::encodeName(file->result.outputPath).constData(), &st) == 0;
            if (!known || !synced.contains(st.st_dev)) {
                flushed = AtomicFile::syncVolume(file->result.outputPath) && flushed;
                if (known)
                    synced.insert(st.st_dev);
            }
        }
        if (flushed) {
            // What each output was made from, for its reuse: one commit.
            Transaction transaction(Connection::forThread());
            for (FileWork *file : placed)
                MadeFiles::made(file->result.outputPath, file->origin);
            transaction.commit();
        } else {
            for (FileWork *file : placed)
                dropOutput(*file, notWritten);
        }
    }

    // A full volume stops the files not begun at once; it is told in order.
    qsizetype fullAt = -1;
    for (qsizetype at = first; at < end; ++at) {
        const FileWork &file = fileAt(at);
        if (file.convert && file.result.outcome == NoRoom && !diskfull.exchange(true)) {
            fullAt = at;
            break;
        }
    }

    // The rows in one transaction; should one of them fail, each on its own.
    QList<track> rows;
    for (qsizetype at = first; at < end; ++at) {
        const FileWork &file = fileAt(at);
        if (file.convert && file.leftOut == 0 &&
            (file.result.outcome == Converted || file.result.outcome == AlreadyConverted))
            rows << convertedRecord(work.at(at), file.result);
    }
    const bool stored = !rows.isEmpty() && ruvoDB().insertTracks(rows);

    qsizetype row = 0;
    for (qsizetype at = first; at < end; ++at) {
        FileWork entry = fileAt(at);
        entry.partial.reset();
        entry.record = work.at(at);
        if (at == fullAt)
            emit sgDiskFull(); // nothing more fits: the rest is not begun
        const bool hasRow = entry.convert && entry.leftOut == 0 &&
                            (entry.result.outcome == Converted || entry.result.outcome == AlreadyConverted);
        finishFile(entry, hasRow && stored ? &rows.at(row) : nullptr);
        if (hasRow)
            ++row;
    }
}

void ffmpeghandler::finishFile(const FileWork &work, const track *stored)
{
    if (!work.convert || work.result.outcome == Stopped)
        return;
    workingTrack = work.record;
    lastConversion = work.result;
    int outcome = work.leftOut > 0 ? work.leftOut : int(work.result.outcome);
    // Reported only once its row is written: a track whose row failed is
    // left out, never copied unconverted in its place.
    if (outcome == Converted || outcome == AlreadyConverted) {
        if (stored) {
            workingTrack = *stored;
            transcodedTracks.append(*stored);
        } else if (!storeConverted()) {
            outcome = NotStored;
            lastConversion.reason = QStringLiteral("it could not be stored in the library");
        }
    }
    if (outcome != Converted && outcome != AlreadyConverted && outcome != NoRoom)
        emit sgFileLeftOut(workingTrack.id, lastConversion.reason);
    // The path the track had before its conversion, as the receiver knows it.
    emit sgRemoveFile(work.record.filepath, workingTrack.id, outcome);
    if (outcome == Converted || outcome == AlreadyConverted)
        announceConverted();
}

int ffmpeghandler::fileTranscodeOnOk(QString sourcefilePath, QString targetfilePath, QString setCodec,
                                     QString extension)
{
    FileWork work;
    work.record = workingTrack;
    work.convert = true;
    work.result = convert(sourcefilePath, targetfilePath, setCodec, extension, lstCodecDetail);
    finishFile(work);
    return work.result.outcome;
}

void ffmpeghandler::OnProcessOutputReadyUpdatePath()
{
    if (storeConverted())
        announceConverted();
}

void ffmpeghandler::announceConverted()
{
    emit sgFiletranscodedOk(QStringLiteral("track_obj_Temp"));
    Logging::getInstance()->WriteLog(QStringLiteral("Transcoded File.. ")
                                         + QDir::fromNativeSeparators(lastConversion.outputPath),
                                     QString());
}

track ffmpeghandler::convertedRecord(const track &t, const Conversion &conversion)
{
    track stored = t;
    stored.codec = conversion.codecName;
    stored.sourcePath = stored.filepath;
    stored.filepath = conversion.outputPath;
    stored.filesize = QFileInfo(conversion.outputPath).size();
    return stored;
}

bool ffmpeghandler::storeConverted()
{
    if (lastConversion.outputPath.isEmpty())
        return false;
    const QString output = lastConversion.outputPath;
    const track stored = convertedRecord(workingTrack, lastConversion);
    ruvoDB db;
    if (!db.insertDataOne(stored)) {
        // Without its row the file is no one's: a conversion made now goes
        // again (one already in the cache stays for the next job).
        qCWarning(lcConverter) << "storing the converted track failed" << output;
        if (lastConversion.outcome == Converted && journalOutputs)
            FileJournal::settle(ruvoDB::programCopyFolder(), {output});
        return false;
    }
    workingTrack = stored;
    transcodedTracks.append(stored);
    return true;
}
