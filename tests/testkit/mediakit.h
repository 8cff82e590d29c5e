#ifndef MEDIAKIT_H
#define MEDIAKIT_H

#include <QStringList>

namespace testkit {

// Tags to give a generated file; empty texts and zero numbers are left out.
struct MediaTags
{
    QString title;
    QString artist;
    QString album;
    QString genre;
    QString comment;
    int year = 0;
    int track = 0;
};

// Makes small media files with ffmpeg (and TagLib where ffmpeg can't) inside
// one folder, at test run time.  Each maker returns the absolute path of the
// new file, or an empty string on failure (see lastError()).  Names may hold
// sub-folders ("Album/01 Song.mp3"); they are created as needed.
class MediaKit
{
public:
    explicit MediaKit(const QString &folder);

    QString folder() const { return m_folder; }
    QString lastError() const { return m_lastError; }

    // A single-colour picture; the format follows the suffix (.jpg, .png).
    QString picture(const QString &name, int width, int height, const QString &colour = QStringLiteral("red"));

    // MP3 with an ID3v2.3 tag (CBR, so its size is seconds * kbps / 8 KB),
    // with a front-cover picture when cover is given.
    QString mp3(const QString &name, const MediaTags &tags, const QString &cover = QString(),
                int seconds = 3, int kbps = 128);
    // MP3 with no tag at all, neither ID3v1 nor ID3v2.
    QString untaggedMp3(const QString &name, int seconds = 3, int kbps = 192);
    QString flac(const QString &name, const MediaTags &tags, const QString &cover = QString(), int seconds = 3);
    QString m4a(const QString &name, const MediaTags &tags, const QString &cover = QString(), int seconds = 3);
    QString wav(const QString &name, const MediaTags &tags, int seconds = 3);
    // WMA (ASF); a cover is added as WM/Picture with TagLib.
    QString wma(const QString &name, const MediaTags &tags, const QString &cover = QString(), int seconds = 3);
    // A 440 Hz tone encoded with the given ffmpeg output options (codec,
    // muxer, extra inputs and maps: "-f lavfi -i sine=d=3" is input 0).
    QString audio(const QString &name, const QStringList &args, const MediaTags &tags = {}, int seconds = 3);
    // An MP3 that is only its ID3v2 tag (the tags and the cover), no frames.
    QString id3OnlyMp3(const QString &name, const MediaTags &tags, const QString &cover);
    // H.264/AAC video.
    QString video(const QString &name, int seconds = 2, int width = 640, int height = 480,
                  const QString &suffixFormatArgs = QString());

    // Adds APIC frames (picture type, picture file) to an MP3's ID3v2 tag and
    // saves it as ID3v2.3.
    static bool addApicFrames(const QString &mp3Path, const QList<QPair<int, QString>> &pictures);
    // Adds pictures (type, picture file), after any already there, to an MP3
    // (APIC), WMA (WM/Picture) or FLAC file, chosen by suffix.
    static bool addPictures(const QString &path, const QList<QPair<int, QString>> &pictures);
    // Appends zero bytes until the file is exactly `bytes` long (never shrinks).
    static bool padToSize(const QString &path, qint64 bytes);

    // Writes an executable shell script `name` in `folder` running `body`: a
    // fake external program for tests.  Returns its path, or "" on failure.
    static QString fakeTool(const QString &folder, const QString &name, const QString &body);

    // Runs ffmpeg with the given arguments (after "-y -v error"); true on exit 0.
    bool ffmpeg(const QStringList &args);

private:
    QString prepare(const QString &name);
    static QStringList metadataArgs(const MediaTags &tags);
    QString encode(const QString &name, const QString &cover, const QStringList &codecArgs,
                   const MediaTags &tags, int seconds);

    QString m_folder;
    QString m_lastError;
};

} // namespace testkit

#endif // MEDIAKIT_H
