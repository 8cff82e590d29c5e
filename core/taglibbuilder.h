#ifndef TAGLIBBUILDER_H
#define TAGLIBBUILDER_H

#include <QDir>
#include <QFileInfo>
#include <QList>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

#include <taglib/attachedpictureframe.h>
#include <taglib/id3v2tag.h>
#include <taglib/tag.h>
#include <taglib/tfile.h>

namespace TagLib::MPEG {
class File;
}

#include "core/itunedata.h"
#include "core/track.h"

// TagLib, playlist and iTunes-file operations.  No data members and no work
// in the constructor: any module may make its own instance.
// Any file opened through TagLib only to read its bytes (length(),
// readBlock()); it is no media file: no tag, no properties, never saved.
class ImageFile : public TagLib::File
{
public:
    explicit ImageFile(TagLib::FileName file);
    TagLib::Tag *tag() const override;
    TagLib::AudioProperties *audioProperties() const override;
    bool save() override;
};

class TagLibBuilder
{
public:
    TagLibBuilder() = default;

    // ---- Embedded cover art -----------------------------------------------
    // Writes the picture embedded in mediaPath, scaled to fit 110 x 110, as a
    // PNG at coverPath; an existing file there is left alone.  Always returns
    // an empty string: the outcome is whether a file now exists.  The file is
    // written whole or not at all, and bytes that don't decode leave nothing.
    QString storeCoverArt(QString coverPath, QString mediaPath);
    // storeCoverArt in two halves, so a scan can decode pictures on worker
    // threads and write them in scan order.  coverArtPng gives the PNG bytes
    // storeCoverArt would write for mediaPath (empty: no picture that
    // decodes); it only reads and is safe on any thread.  writeCoverArt
    // writes them whole at coverPath unless png is empty or a file is
    // already there; true when it wrote.
    static QByteArray coverArtPng(const QString &mediaPath);
    static bool writeCoverArt(const QString &coverPath, const QByteArray &png);
    // The PNG coverArtPng makes of one picture's bytes; empty when they
    // don't decode.
    static QByteArray pictureToPng(const QByteArray &bytes);
    // The picture coverArtPng takes from an MPEG file's ID3v2 tag (the one
    // attachedPictureFrame finds), sharing the tag's data; empty when the
    // file has none.
    static TagLib::ByteVector id3v2Picture(TagLib::MPEG::File &file);
    // The tag's front-cover picture frame, else its first picture frame;
    // owned by the tag.  Without one: null, or with `create` a new default
    // frame added to the tag.
    TagLib::ID3v2::AttachedPictureFrame *attachedPictureFrame(TagLib::ID3v2::Tag *tag, bool create);
    // Edge of the square the picture is scaled into.
    static constexpr int coverSize = 110;

    // ---- Playlist files ---------------------------------------------------
    // The media paths a playlist names, in file order, duplicates kept and
    // not tested for existence; empty on any failure.  URL entries are
    // dropped, relative entries are resolved against the playlist's folder
    // and every entry is a cleaned path.  Text that isn't valid UTF-8 is read
    // as Latin-1; a UTF-8 byte-order mark is skipped.

    // Chooses the reader by the lower-cased suffix: "wpl", "pls", "m3u" or
    // "m3u8"; anything else ("xspf" too) gives an empty list.
    QList<QString> parsePlaylists(const QFileInfo &playlist) const;
    // M3U/M3U8: one entry per line; blank lines and "#" lines are comments.
    QList<QString> readM3UPlaylist(const QString &path) const;
    // PLS: the trimmed values of the keys beginning with "file", in line order.
    QList<QString> readPlsPlaylist(const QString &path) const;
    // WPL: the "src" of every "media" element up to the end or the first XML
    // error; a leading ".." stands for the user's music folder.
    QList<QString> parseWplPlaylist(const QString &path) const;


    // ---- Tag writer -------------------------------------------------------
    // Writes the record's known values into its file (mp3, wma, m4a, m4b,
    // mp4; anything else is left alone).  An MP3 needs an ID3v2 tag already
    // and comes out with one ID3v2.3 tag: ID3v1 and APE tags are removed and
    // whatever only they held moves into it.  The file is rewritten only
    // when a value changes, and through a copy renamed over it, so a failed
    // save leaves the file as it was; the file keeps its mode bits (and, run
    // as root, its owner).  False when the file needed writing and wasn't
    // written, or is missing.
    bool setMissingTag(track record);
    // Sets the record's known values on an open tag without saving: title
    // and artist when flagged and not empty, album when flagged and not from
    // a playlist, genre unless empty or "Unknown...", year and track number
    // unless 0.  Anything else in the tag stays as it is.
    void SetValues(TagLib::Tag *tag, track record);
    // Makes sure the tag holds a picture frame (a new one with TagLib's
    // defaults when it has none).  The path is not used.
    void setCoverArt(TagLib::ID3v2::Tag *tag, QString path);
    // Embeds the picture at imagePath into the MP3 at mediaPath, in its front
    // picture frame (or a new one), with the picture's own MIME type.
    // Written through a copy as setMissingTag is; true when saved.
    bool embedcoverart(QString mediaPath, QString imagePath);
    // Largest picture embedcoverart takes.
    static constexpr long maxEmbeddedPictureSize = 16L * 1024 * 1024;

    // ---- iTunes library file ----------------------------------------------
    // Reads the iTunes library XML file at `path` in one streaming pass and
    // returns its playlists in file order, each holding the tracks whose file
    // exists and has an accepted audio suffix (or video suffix while the car
    // system plays video).  Never writes anything.  A file that can't be
    // opened gives an empty list; damaged XML ends the reading and gives the
    // playlists completed before the damage.  Each playlist starts from
    // nothing: what a damaged one held never reaches the next.  A value far
    // longer than any real one (over itunesTextLimit bytes, or
    // itunesDataLimit for a data value) is left out with a log line, so
    // memory follows the size of the library, not of its largest value.
    // Elements nested deeper than itunesDepthLimit (a real library nests
    // six) are damage too: the reading ends there.
    // `tracksRead`, when given, is called after each track of the file with
    // the number read so far and the track's file; `missingFiles`, when
    // given, receives the tracks' files of a playable kind that are not there;
    // `problem`, when given, why the file could not be read to its end, for
    // the user ("" when it could).
    QList<iTunedata> parseiTunePlaylist(const QString &path) const;
    QList<iTunedata> parseiTunePlaylist(const QString &path,
                                        const std::function<void(int tracksRead, const QString &file)> &tracksRead,
                                        QStringList *missingFiles = nullptr, QString *problem = nullptr) const;
    static constexpr qint64 itunesTextLimit = 64 * 1024;
    static constexpr qint64 itunesDataLimit = 4 * 1024 * 1024;
    static constexpr int itunesDepthLimit = 64;

    // ---- iTunes artwork index ---------------------------------------------
    // Which iTunes track's artwork cache file stands for each album.  Built
    // once at start-up; scans use it to find a cover for a track without one.

    // ids with the persistent id of every artwork cache file (".itc", ".itc2",
    // any case) below folder appended, in walk order.  The id is the second
    // part of the file name split at dots, hyphens and tabs.
    QList<QString> SearchiTineArts(const QDir &folder, QList<QString> ids) const;
    // Album name (trimmed, cleaned with formatSplChar) -> persistent id of the
    // last track of that album in the iTunes library file that has a cache
    // file.  Reading stops at the library's "Playlists" key, or when `stop`
    // is set (what was read so far is returned).
    QMap<QString, QString> parseiTuneCoverArtStartup(const std::atomic<bool> *stop = nullptr) const;
    // The same, from the given library file and artwork folder.
    QMap<QString, QString> parseiTuneCoverArt(const QString &libraryFile, const QDir &artworkFolder,
                                              const std::atomic<bool> *stop = nullptr) const;

};

#endif // TAGLIBBUILDER_H
