#include "core/track_data.h"

#include <limits>

#include "core/logging.h"

int track_data::track_Id = 1;
int track_data::album_Id = 1;
int track_data::artist_Id = 1;

TrackMap track_data::track_obj_map;
QMap<QString, int> track_data::album_map;
QMap<QString, int> track_data::artist_map;
track track_data::obj_track;
QMap<QString, QString> track_data::ItuneCoverPIDALbum;
bool track_data::IsVideoSupported = false;

const QStringList track_data::audioFilter = {
    QStringLiteral("mp3"), QStringLiteral("m4a"), QStringLiteral("m4b"), QStringLiteral("aac"),
    QStringLiteral("wma"), QStringLiteral("mpa"), QStringLiteral("mp2"), QStringLiteral("mpga"),
    QStringLiteral("wav"), QStringLiteral("aiff"), QStringLiteral("aif"), QStringLiteral("aifc"),
    QStringLiteral("flac"), QStringLiteral("ogg"), QStringLiteral("oga"), QStringLiteral("ape")};
const QStringList track_data::videoFilter = {
    QStringLiteral("mp4"), QStringLiteral("avi"), QStringLiteral("mpeg"), QStringLiteral("mpg"),
    QStringLiteral("wmv"), QStringLiteral("flv"), QStringLiteral("mkv"), QStringLiteral("m4v"),
    QStringLiteral("mov")};
const QStringList track_data::playlistFilter = {
    QStringLiteral("m3u"), QStringLiteral("m3u8"), QStringLiteral("pls"), QStringLiteral("xspf"),
    QStringLiteral("wpl")};

namespace {
// Takes the next id from a counter without ever wrapping.  postIncrement
// gives the current value and then increases; otherwise the counter grows
// first and the new value is the id.
int takeId(int &counter, bool postIncrement, const char *what)
{
    if (counter == std::numeric_limits<int>::max()) {
        Logging::getInstance()->WriteLog(QStringLiteral("Id range exhausted, record refused: "),
                                         QString::fromLatin1(what));
        return -1;
    }
    return postIncrement ? counter++ : ++counter;
}
} // namespace

track_data::track_data() = default;
track_data::~track_data() = default;

int track_data::takeTrackId()
{
    return takeId(track_Id, true, "track");
}

int track_data::takeNextTrackId()
{
    return takeId(track_Id, false, "track");
}

int track_data::takeAlbumId()
{
    return takeId(album_Id, false, "album");
}

int track_data::takeArtistId()
{
    return takeId(artist_Id, false, "artist");
}

// ---- File checks and tag reading ------------------------------------------


// ---- Track mapping --------------------------------------------------------


// ---- Folder scan ----------------------------------------------------------


// ---- iTunes import --------------------------------------------------------

