#include "mediakit.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <taglib/asffile.h>
#include <taglib/asfpicture.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/id3v2tag.h>
#include <taglib/flacfile.h>
#include <taglib/mpegfile.h>

namespace testkit {

namespace {
TagLib::ByteVector readAll(const QString &path)
{
    QFile file(path);
    const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    return TagLib::ByteVector(bytes.constData(), static_cast<unsigned int>(bytes.size()));
}

TagLib::String mimeOf(const QString &picturePath)
{
    return picturePath.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive) ? "image/png" : "image/jpeg";
}

// The ffmpeg options that attach picture input 1 to audio input 0 as its front cover.
QStringList coverArgs(const QString &cover, const QStringList &streamMetadata)
{
    if (cover.isEmpty())
        return {};
    QStringList args{"-map", "0:a", "-map", "1:v", "-c:v", "copy"};
    for (const QString &entry : streamMetadata)
        args << "-metadata:s:v" << entry;
    return args << "-disposition:v" << "attached_pic";
}
} // namespace

MediaKit::MediaKit(const QString &folder)
    : m_folder(QDir(folder).absolutePath())
{
    QDir().mkpath(m_folder);
}

QString MediaKit::prepare(const QString &name)
{
    const QString path = QDir(m_folder).absoluteFilePath(name);
    QDir().mkpath(QFileInfo(path).absolutePath());
    return path;
}

bool MediaKit::ffmpeg(const QStringList &args)
{
    QProcess process;
    process.start(QStringLiteral("ffmpeg"), QStringList{"-y", "-v", "error", "-nostdin"} + args);
    const bool finished = process.waitForFinished(120000); // QProcess ends a hung one when it goes
    m_lastError = finished ? QString::fromLocal8Bit(process.readAllStandardError()) : QStringLiteral("ffmpeg hung");
    return finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

QStringList MediaKit::metadataArgs(const MediaTags &tags)
{
    const QList<std::pair<const char *, QString>> entries{
        {"title", tags.title}, {"artist", tags.artist}, {"album", tags.album}, {"genre", tags.genre},
        {"comment", tags.comment}, {"date", tags.year > 0 ? QString::number(tags.year) : QString()},
        {"track", tags.track > 0 ? QString::number(tags.track) : QString()}};
    QStringList args;
    for (const auto &[key, value] : entries)
        if (!value.isEmpty())
            args << QStringLiteral("-metadata") << QString::fromLatin1(key) + QLatin1Char('=') + value;
    return args;
}

QString MediaKit::encode(const QString &name, const QString &cover, const QStringList &codecArgs,
                         const MediaTags &tags, int seconds)
{
    const QString path = prepare(name);
    QStringList args{"-f", "lavfi", "-i", QStringLiteral("sine=frequency=440:duration=%1").arg(seconds)};
    if (!cover.isEmpty())
        args << "-i" << cover;
    args << codecArgs << metadataArgs(tags) << path;
    return ffmpeg(args) ? path : QString();
}

QString MediaKit::picture(const QString &name, int width, int height, const QString &colour)
{
    const QString path = prepare(name);
    return ffmpeg({"-f", "lavfi", "-i", QStringLiteral("color=c=%1:s=%2x%3").arg(colour).arg(width).arg(height),
                   "-frames:v", "1", path})
               ? path
               : QString();
}

QString MediaKit::mp3(const QString &name, const MediaTags &tags, const QString &cover, int seconds, int kbps)
{
    const QStringList codec{"-c:a", "libmp3lame", "-b:a", QStringLiteral("%1k").arg(kbps), "-id3v2_version", "3"};
    return encode(name, cover, codec + coverArgs(cover, {"title=Album cover", "comment=Cover (front)"}), tags, seconds);
}

QString MediaKit::untaggedMp3(const QString &name, int seconds, int kbps)
{
    return encode(name, QString(),
                  {"-c:a", "libmp3lame", "-b:a", QStringLiteral("%1k").arg(kbps), "-id3v2_version", "0",
                   "-write_id3v1", "0", "-map_metadata", "-1"},
                  {}, seconds);
}

QString MediaKit::flac(const QString &name, const MediaTags &tags, const QString &cover, int seconds)
{
    return encode(name, cover, QStringList{"-c:a", "flac"} + coverArgs(cover, {"comment=Cover (front)"}), tags,
                  seconds);
}

QString MediaKit::m4a(const QString &name, const MediaTags &tags, const QString &cover, int seconds)
{
    return encode(name, cover, QStringList{"-c:a", "aac", "-b:a", "128k"} + coverArgs(cover, {}), tags, seconds);
}

QString MediaKit::wav(const QString &name, const MediaTags &tags, int seconds)
{
    return encode(name, QString(), {"-c:a", "pcm_s16le"}, tags, seconds);
}

QString MediaKit::wma(const QString &name, const MediaTags &tags, const QString &cover, int seconds)
{
    const QString path = encode(name, QString(), {"-c:a", "wmav2", "-b:a", "128k"}, tags, seconds);
    if (path.isEmpty() || cover.isEmpty() || addPictures(path, {{3, cover}}))
        return path;
    m_lastError = QStringLiteral("could not add WM/Picture");
    return QString();
}

QString MediaKit::audio(const QString &name, const QStringList &args, const MediaTags &tags, int seconds)
{
    return encode(name, QString(), args, tags, seconds);
}

QString MediaKit::id3OnlyMp3(const QString &name, const MediaTags &tags, const QString &cover)
{
    const QString path = mp3(name, tags, cover);
    QFile file(path);
    const QByteArray header = !path.isEmpty() && file.open(QIODevice::ReadWrite) ? file.read(10) : QByteArray();
    if (header.size() < 10 || !header.startsWith("ID3"))
        return QString();
    qint64 size = 0;
    for (int i = 6; i < 10; ++i)
        size = (size << 7) | (header.at(i) & 0x7f); // syncsafe
    return file.resize(10 + size) ? path : QString();
}

QString MediaKit::video(const QString &name, int seconds, int width, int height, const QString &suffixFormatArgs)
{
    const QString path = prepare(name);
    QStringList args{"-f", "lavfi", "-i", QStringLiteral("testsrc2=s=%1x%2:d=%3").arg(width).arg(height).arg(seconds),
                     "-f", "lavfi", "-i", QStringLiteral("sine=d=%1").arg(seconds),
                     "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-c:a", "aac", "-shortest"};
    args << suffixFormatArgs.split(QLatin1Char(' '), Qt::SkipEmptyParts) << path;
    return ffmpeg(args) ? path : QString();
}

bool MediaKit::addApicFrames(const QString &mp3Path, const QList<QPair<int, QString>> &pictures)
{
    TagLib::MPEG::File file(QFile::encodeName(mp3Path).constData());
    if (!file.isValid())
        return false;
    for (const auto &[type, picturePath] : pictures) {
        auto *frame = new TagLib::ID3v2::AttachedPictureFrame;
        frame->setMimeType(mimeOf(picturePath));
        frame->setType(static_cast<TagLib::ID3v2::AttachedPictureFrame::Type>(type));
        frame->setDescription(TagLib::String(QStringLiteral("picture %1").arg(type).toStdString()));
        frame->setPicture(readAll(picturePath));
        file.ID3v2Tag(true)->addFrame(frame);
    }
    return file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone, TagLib::ID3v2::v3);
}

bool MediaKit::addPictures(const QString &path, const QList<QPair<int, QString>> &pictures)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("mp3"))
        return addApicFrames(path, pictures);
    if (suffix == QLatin1String("wma")) {
        TagLib::ASF::File file(QFile::encodeName(path).constData());
        if (!file.isValid() || !file.tag())
            return false;
        for (const auto &[type, picturePath] : pictures) {
            TagLib::ASF::Picture picture;
            picture.setMimeType(mimeOf(picturePath));
            picture.setType(static_cast<TagLib::ASF::Picture::Type>(type));
            picture.setPicture(readAll(picturePath));
            file.tag()->addAttribute("WM/Picture", TagLib::ASF::Attribute(picture));
        }
        return file.save();
    }
    TagLib::FLAC::File file(QFile::encodeName(path).constData());
    if (suffix != QLatin1String("flac") || !file.isValid())
        return false;
    for (const auto &[type, picturePath] : pictures) {
        auto *picture = new TagLib::FLAC::Picture;
        picture->setType(static_cast<TagLib::FLAC::Picture::Type>(type));
        picture->setMimeType(mimeOf(picturePath));
        picture->setData(readAll(picturePath));
        file.addPicture(picture);
    }
    return file.save();
}

QString MediaKit::fakeTool(const QString &folder, const QString &name, const QString &body)
{
    QFile file(QDir(folder).filePath(name));
    if (!file.open(QIODevice::WriteOnly) || !file.write("#!/bin/sh\n" + body.toUtf8() + "\n") || !file.flush())
        return QString();
    file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
    return file.fileName();
}

bool MediaKit::padToSize(const QString &path, qint64 bytes)
{
    QFile file(path);
    return file.open(QIODevice::ReadWrite) && file.size() <= bytes && file.resize(bytes);
}

} // namespace testkit
