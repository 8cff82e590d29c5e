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
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    return TagLib::ByteVector(bytes.constData(), static_cast<unsigned int>(bytes.size()));
}

QString mimeOf(const QString &picturePath)
{
    return picturePath.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive) ? QStringLiteral("image/png")
                                                                              : QStringLiteral("image/jpeg");
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
    process.start(QStringLiteral("ffmpeg"), QStringList{QStringLiteral("-y"), QStringLiteral("-v"),
                                                        QStringLiteral("error"), QStringLiteral("-nostdin")}
                                                + args);
    if (!process.waitForStarted(10000)) {
        m_lastError = QStringLiteral("ffmpeg did not start");
        return false;
    }
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        m_lastError = QStringLiteral("ffmpeg timed out");
        return false;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        m_lastError = QString::fromLocal8Bit(process.readAllStandardError());
        return false;
    }
    return true;
}

QStringList MediaKit::metadataArgs(const MediaTags &tags)
{
    QStringList args;
    const auto add = [&args](const char *key, const QString &value) {
        if (!value.isEmpty())
            args << QStringLiteral("-metadata") << QString::fromLatin1(key) + QLatin1Char('=') + value;
    };
    add("title", tags.title);
    add("artist", tags.artist);
    add("album", tags.album);
    add("genre", tags.genre);
    add("comment", tags.comment);
    if (tags.year > 0)
        add("date", QString::number(tags.year));
    if (tags.track > 0)
        add("track", QString::number(tags.track));
    return args;
}

QString MediaKit::encode(const QString &name, const QStringList &inputs, const QStringList &codecArgs,
                         const MediaTags &tags, int seconds)
{
    const QString path = prepare(name);
    QStringList args{QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                     QStringLiteral("sine=frequency=440:duration=%1").arg(seconds)};
    args << inputs << codecArgs << metadataArgs(tags) << path;
    return ffmpeg(args) ? path : QString();
}

QString MediaKit::picture(const QString &name, int width, int height, const QString &colour)
{
    const QString path = prepare(name);
    const QStringList args{QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                           QStringLiteral("color=c=%1:s=%2x%3").arg(colour).arg(width).arg(height),
                           QStringLiteral("-frames:v"), QStringLiteral("1"), path};
    return ffmpeg(args) ? path : QString();
}

QString MediaKit::mp3(const QString &name, const MediaTags &tags, const QString &cover, int seconds, int kbps)
{
    QStringList inputs;
    QStringList codec{QStringLiteral("-c:a"), QStringLiteral("libmp3lame"), QStringLiteral("-b:a"),
                      QStringLiteral("%1k").arg(kbps), QStringLiteral("-id3v2_version"), QStringLiteral("3")};
    if (!cover.isEmpty()) {
        inputs << QStringLiteral("-i") << cover;
        codec << QStringLiteral("-map") << QStringLiteral("0:a") << QStringLiteral("-map") << QStringLiteral("1:v")
              << QStringLiteral("-c:v") << QStringLiteral("copy") << QStringLiteral("-metadata:s:v")
              << QStringLiteral("title=Album cover") << QStringLiteral("-metadata:s:v")
              << QStringLiteral("comment=Cover (front)") << QStringLiteral("-disposition:v")
              << QStringLiteral("attached_pic");
    }
    return encode(name, inputs, codec, tags, seconds);
}

QString MediaKit::untaggedMp3(const QString &name, int seconds, int kbps)
{
    const QStringList codec{QStringLiteral("-c:a"), QStringLiteral("libmp3lame"), QStringLiteral("-b:a"),
                            QStringLiteral("%1k").arg(kbps), QStringLiteral("-id3v2_version"), QStringLiteral("0"),
                            QStringLiteral("-write_id3v1"), QStringLiteral("0"), QStringLiteral("-map_metadata"),
                            QStringLiteral("-1")};
    return encode(name, {}, codec, {}, seconds);
}

QString MediaKit::flac(const QString &name, const MediaTags &tags, const QString &cover, int seconds)
{
    QStringList inputs;
    QStringList codec{QStringLiteral("-c:a"), QStringLiteral("flac")};
    if (!cover.isEmpty()) {
        inputs << QStringLiteral("-i") << cover;
        codec << QStringLiteral("-map") << QStringLiteral("0:a") << QStringLiteral("-map") << QStringLiteral("1:v")
              << QStringLiteral("-c:v") << QStringLiteral("copy") << QStringLiteral("-metadata:s:v")
              << QStringLiteral("comment=Cover (front)") << QStringLiteral("-disposition:v")
              << QStringLiteral("attached_pic");
    }
    return encode(name, inputs, codec, tags, seconds);
}

QString MediaKit::m4a(const QString &name, const MediaTags &tags, const QString &cover, int seconds)
{
    QStringList inputs;
    QStringList codec{QStringLiteral("-c:a"), QStringLiteral("aac"), QStringLiteral("-b:a"), QStringLiteral("128k")};
    if (!cover.isEmpty()) {
        inputs << QStringLiteral("-i") << cover;
        codec << QStringLiteral("-map") << QStringLiteral("0:a") << QStringLiteral("-map") << QStringLiteral("1:v")
              << QStringLiteral("-c:v") << QStringLiteral("copy") << QStringLiteral("-disposition:v")
              << QStringLiteral("attached_pic");
    }
    return encode(name, inputs, codec, tags, seconds);
}

QString MediaKit::wav(const QString &name, const MediaTags &tags, int seconds)
{
    return encode(name, {}, {QStringLiteral("-c:a"), QStringLiteral("pcm_s16le")}, tags, seconds);
}

QString MediaKit::wma(const QString &name, const MediaTags &tags, const QString &cover, int seconds)
{
    const QString path = encode(name, {},
                                {QStringLiteral("-c:a"), QStringLiteral("wmav2"), QStringLiteral("-b:a"),
                                 QStringLiteral("128k")},
                                tags, seconds);
    if (path.isEmpty() || cover.isEmpty())
        return path;
    if (!addWmPicture(path, cover)) {
        m_lastError = QStringLiteral("could not add WM/Picture");
        return QString();
    }
    return path;
}

QString MediaKit::audio(const QString &name, const QStringList &args, const MediaTags &tags, int seconds)
{
    return encode(name, {}, args, tags, seconds);
}

QString MediaKit::id3OnlyMp3(const QString &name, const MediaTags &tags, const QString &cover)
{
    const QString path = mp3(name, tags, cover);
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadWrite))
        return QString();
    const QByteArray header = file.read(10);
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
    QStringList args{QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                     QStringLiteral("testsrc2=s=%1x%2:d=%3").arg(width).arg(height).arg(seconds),
                     QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                     QStringLiteral("sine=d=%1").arg(seconds),
                     QStringLiteral("-c:v"), QStringLiteral("libx264"), QStringLiteral("-preset"),
                     QStringLiteral("ultrafast"), QStringLiteral("-pix_fmt"), QStringLiteral("yuv420p"),
                     QStringLiteral("-c:a"), QStringLiteral("aac"), QStringLiteral("-shortest")};
    if (!suffixFormatArgs.isEmpty())
        args << suffixFormatArgs.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    args << path;
    return ffmpeg(args) ? path : QString();
}

bool MediaKit::addApicFrames(const QString &mp3Path, const QList<QPair<int, QString>> &pictures)
{
    TagLib::MPEG::File file(QFile::encodeName(mp3Path).constData());
    if (!file.isValid())
        return false;
    TagLib::ID3v2::Tag *tag = file.ID3v2Tag(true);
    for (const auto &[type, picturePath] : pictures) {
        auto *frame = new TagLib::ID3v2::AttachedPictureFrame;
        frame->setMimeType(TagLib::String(mimeOf(picturePath).toStdString()));
        frame->setType(static_cast<TagLib::ID3v2::AttachedPictureFrame::Type>(type));
        frame->setDescription(TagLib::String(QStringLiteral("picture %1").arg(type).toStdString()));
        frame->setPicture(readAll(picturePath));
        tag->addFrame(frame);
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
            picture.setMimeType(TagLib::String(mimeOf(picturePath).toStdString()));
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
        picture->setMimeType(TagLib::String(mimeOf(picturePath).toStdString()));
        picture->setData(readAll(picturePath));
        file.addPicture(picture);
    }
    return file.save();
}

bool MediaKit::addWmPicture(const QString &asfPath, const QString &picturePath, int type)
{
    TagLib::ASF::File file(QFile::encodeName(asfPath).constData());
    if (!file.isValid() || !file.tag())
        return false;
    TagLib::ASF::Picture picture;
    picture.setMimeType(TagLib::String(mimeOf(picturePath).toStdString()));
    picture.setType(static_cast<TagLib::ASF::Picture::Type>(type));
    picture.setPicture(readAll(picturePath));
    file.tag()->addAttribute("WM/Picture", TagLib::ASF::Attribute(picture));
    return file.save();
}

QString MediaKit::fakeTool(const QString &folder, const QString &name, const QString &body)
{
    QFile file(QDir(folder).filePath(name));
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    file.write("#!/bin/sh\n" + body.toUtf8() + "\n");
    file.close();
    file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
    return file.fileName();
}

bool MediaKit::padToSize(const QString &path, qint64 bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    if (file.size() > bytes)
        return false;
    return file.resize(bytes);
}

} // namespace testkit
