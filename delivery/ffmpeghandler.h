#ifndef FFMPEGHANDLER_H
#define FFMPEGHANDLER_H

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <vector>

#include "core/track.h"
#include "delivery/details.h"
#include "delivery/madefiles.h"
#include "delivery/systemdetails.h"
#include "delivery/transferdetail.h"

class AtomicFile;

// The audio converter: which codecs an in-car system plays, which codec a
// file has (ffprobe), whether it must be converted, and the conversion with
// ffmpeg into the cache below the library folder, trying further codecs when
// an attempt fails.
//
// Every job makes its own instance: the stop flag, the codec lists and the
// file in hand belong to the instance, so stopping or reconfiguring the
// library job never touches a drive job.  The pieces a drive copy needs are
// usable one by one:
//
//   ffmpeghandler conv;                               // one per job
//   const auto codecs = ffmpeghandler::codecListFor(profile);
//   const QString probed = conv.askForCodec(path);
//   if (ffmpeghandler::needsTranscode(probed, t.isVideo, codecs)) {
//       const auto r = conv.convert(path, ffmpeghandler::cacheTarget(t), profile.codec,
//                                   profile.audioExtension, codecs);
//       // r.outcome: Converted, AlreadyConverted, Failed or Stopped; r.outputPath
//   }
//
// convert() blocks; it runs ffmpeg through ExternalProgram (argument list,
// timeout, exit status) and may be called from several threads of one job at
// once: it keeps its state on the stack.
class ffmpeghandler : public QObject
{
    Q_OBJECT

public:
    // Outcome codes of one file, as sgRemoveFile carries them.
    enum Outcome {
        Stopped = 0,          // the job was stopped before or during the file
        Failed = 1,           // no codec could convert it
        AlreadyConverted = 2, // the output was already in the cache
        Converted = 3,        // converted now
        NoRoom = 4,           // its volume is full: the job stops
    };
    // Further codes of the library job's sgRemoveFile: the file is left out
    // like a Failed one, for the reason sgFileLeftOut gave.
    enum LeftOut {
        Unreadable = 5, // the source can't be read
        Damaged = 6,    // no audio found in it: damaged or not a media file
        NotStored = 7,  // converted, but its row could not be written
    };

    // One ffmpeg attempt: the encoder ffmpeg runs, the extension of the output
    // and the codec name the output is stored with.
    struct Encoding
    {
        QString encoder;
        QString extension;
        QString codecName;
    };

    // What convert() made of one file.
    struct Conversion
    {
        Outcome outcome = Failed;
        QString outputPath;   // the converted file (Converted, AlreadyConverted)
        QString codecName;    // codec of the output ("mp3", "aac", ...)
        int attempts = 0;     // ffmpeg runs made
        QString reason;       // why a file was left out, as the user reads it
    };

    explicit ffmpeghandler(QObject *parent = nullptr);
    ~ffmpeghandler() override;

    // ---- Codec list -------------------------------------------------------
    // "mp3" first, then one entry per extension of each audio codec of the
    // named system in the systems table (duplicates kept, table order).  Also
    // becomes this instance's list.  An unknown system or an unreadable table
    // gives mp3 alone.  `systemsXml` empty: the table the vehicle chooser reads.
    QList<Details> readSystemCodecs(const QString &systemName, const QString &systemsXml = QString());
    // The same list built from a profile already read from the table.
    static QList<Details> codecListFor(const SystemDetails &system);
    QList<Details> codecList() const { return lstCodecDetail; }

    // ---- Probe and decision -----------------------------------------------
    // The codec name of the file's first audio stream: from its first bytes
    // where they settle it (MP3, FLAC), else from ffprobe ("" when ffprobe
    // can't tell, is missing, fails or takes longer than the probe timeout).
    QString askForCodec(const QString &path) const;
    // A file is converted when it is audio and its codec is none of the list's
    // names (exact comparison); an empty probe result converts.
    static bool needsTranscode(const QString &probedCodec, bool isVideo, const QList<Details> &codecs);

    // ---- Names and command line --------------------------------------------
    // Album folder in the cache: cleaned album name, "Unknown Album" when empty.
    static QString cacheAlbumFolder(const QString &albumName);
    // File name (without extension) of a converted track: its cleaned title,
    // or the source's cleaned base name when the title cleans to nothing.
    static QString cacheFileName(const track &t);
    // "<library folder>/Transcoded Media": where converted audio is kept.
    static QString cacheFolder();
    // Conversion target of a track without extension.
    static QString cacheTarget(const track &t);
    // Maps a codec name and extension of the table onto Debian's ffmpeg:
    // aac (and libfaac, libvo_aacenc) -> native "aac", mp3 -> "libmp3lame",
    // others unchanged.  A source ending in .avi, .ogg or .mp4 is always
    // converted to mp3.
    static Encoding encodingFor(const QString &codecName, const QString &extension, const QString &sourcePath);
    // ffmpeg's arguments for one attempt; options come before the output name.
    static QStringList conversionArguments(const QString &source, const QString &encoder, const QString &output);

    // ---- Conversion -------------------------------------------------------
    // Converts `source` to `targetBase` + "." + extension, first with the
    // given codec, then with each entry of `fallbacks` in order until one
    // attempt succeeds.  An output already in the cache is taken without
    // running ffmpeg.  ffmpeg writes to a hidden partial file beside the
    // output that takes its place only after a successful run, flushed
    // (AtomicFile), so the cache never holds a half-written file.  A name too
    // long for the file system is shortened.  The source's tags are copied
    // onto the output.  The album folder is created as needed.  In the
    // library job each output is written down as unsettled (FileJournal)
    // before ffmpeg makes it, until the row that owns it is stored.
    Conversion convert(const QString &source, const QString &targetBase, const QString &codecName,
                       const QString &extension, const QList<Details> &fallbacks) const;

    // Copies title, artist, album, genre, year and track number from the
    // source's tag (as Unicode) onto the target and saves it; a target that
    // holds them all already (ffmpeg copies them from most sources) is left
    // as it is.  False when either can't be opened or the source has no tag.
    static bool UpdateTag(const QString &sourcefilePath, const QString &targetfilePath);
    // Creates the folder and its parents; true when it exists afterwards.
    static bool CreateDir(const QString &path);

    // ---- Library job ------------------------------------------------------
    // Converts the tracks the profile can't play into the cache, stores each
    // converted one in the library (its filepath the converted file, its
    // sourcePath the track's former filepath, the copy target) and returns
    // them in ascending id order.  An output already in the cache counts as
    // converted.  Files are converted in parallel, one per core; the job's
    // own thread finishes them (tags, name, one flush per batch, rows in one
    // transaction), so the parallel slots only run ffmpeg.  The result, the
    // rows and the signals follow the ascending id order.  Emits
    // sgRemoveFile (flag 3, 2 or 1) and, for each stored file,
    // sgFiletranscodedOk, in that order per file.
    QList<track> TranscodeOnOK(TrackMap tracks, transferDetail detail);
    // The tracks in ascending id order whose sourcePath names an existing
    // file; stops early once the job is stopped.
    QList<track> checkSystemCompatibilityOnOk(TrackMap tracks, transferDetail detail) const;

    // Asks the job to stop: files not begun are left, a running ffmpeg is
    // ended and its partial output removed.
    void stop();
    bool isStopped() const;
    // A second flag (e.g. the running job's own) that stops this instance too:
    // between attempts and files, and within TranscodeOnOK also a running
    // ffmpeg.  A caller of convert() that must end a running ffmpeg calls stop().
    void linkStopFlag(const std::atomic<bool> *flag) { linkedStop = flag; }

    // How many files run at once (default: the ideal thread count).
    void setMaxParallel(int count) { maxParallel = count; }

    // Timeouts of the external runs.
    static constexpr int probeTimeoutMs = 30000;
    // A conversion may take this long plus four times the file's length.
    static constexpr int conversionBaseTimeoutMs = 120000;

public slots:
    // Library flavour of one file: runs convert() for the working track and
    // reports it with sgRemoveFile; on success completes the working track
    // (OnProcessOutputReadyUpdatePath).  Returns the outcome code.
    int fileTranscodeOnOk(QString sourcefilePath, QString targetfilePath, QString setCodec, QString extension);
    // Completes the working track with the converted file, stores it and adds
    // it to the job's result.
    void OnProcessOutputReadyUpdatePath();

signals:
    void incrementProgress(QString Filename);
    void sgFiletranscoded(QString Filename);
    void sgFiletranscodedOk(QString track_obj);
    void sgDiskFull();
    void sgDriveRemoved();
    void sgUpdateMainObject(QList<track> Track_Data);
    void sgRemoveFile(QString filePath, qint64 trackID, qint64 flag);
    // Before sgRemoveFile of a file left out: why, as the user reads it.
    void sgFileLeftOut(qint64 trackID, QString reason);

private:
    // One file of the library job, converted on a pool thread and finished
    // (tags, name, flush, row) on the job thread, so that the pool's slots
    // only run ffmpeg.
    struct FileWork
    {
        track record;
        bool convert = false;
        Conversion result;
        int leftOut = 0; // a LeftOut code that overrides the outcome
        // The first attempt's output, claimed and written down before the
        // pool began ("" when not), and whether the attempt took it.
        QString noted;
        bool notedTaken = false;
        // A successful run's output, still under its temporary name.
        std::shared_ptr<AtomicFile> partial;
        MadeFiles::Source origin;
    };
    // convert() for one file of the library job: takes `work`'s noted name
    // for the first attempt and leaves a successful output in `work`.
    Conversion convertFile(const QString &source, const QString &targetBase, const QString &codecName,
                           const QString &extension, const QList<Details> &fallbacks, FileWork *work) const;
    void workOnFile(FileWork &work, const SystemDetails &system) const;
    // Claims the first attempt's output of each file that will be converted
    // and writes them all down in one commit.
    void noteOutputs(std::vector<FileWork> &files, const SystemDetails &system) const;
    // Finishes the work list's entries [first, end), whose files are done:
    // outputs tagged and named, one flush, their rows in one transaction,
    // then each entry reported in order.
    void finishBatch(const QList<track> &work, qsizetype first, qsizetype end, std::vector<FileWork> &files,
                     const QHash<QString, size_t> &fileOfSource);
    // Takes a finished output back: it goes, and the file is left out.
    void dropOutput(FileWork &file, const QString &reason) const;
    // Whether ffprobe reads at least one audio packet of the file.
    bool hasAudioPackets(const QString &path) const;
    // Reports one entry; `stored` is its row when already written.
    void finishFile(const FileWork &work, const track *stored = nullptr);
    // The row of a converted track.
    static track convertedRecord(const track &t, const Conversion &conversion);
    // Stores the working track with its converted file; false when its row
    // could not be written (a file converted now is then deleted again).
    bool storeConverted();
    // Tells that the working track's conversion is stored.
    void announceConverted();

    bool stopRequested() const;

    std::atomic<bool> diskfull{false};
    // The library job's outputs stay unsettled until their rows are stored.
    bool journalOutputs = false;
    const std::atomic<bool> *linkedStop = nullptr;
    int maxParallel = 0;

    QList<Details> lstCodecDetail;
    track workingTrack;
    QList<track> transcodedTracks;
    Conversion lastConversion;
};

#endif // FFMPEGHANDLER_H
