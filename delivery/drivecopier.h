#ifndef DRIVECOPIER_H
#define DRIVECOPIER_H

#include <QHash>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>

#include "core/track.h"
#include "delivery/createplaylist.h"
#include "delivery/details.h"
#include "delivery/drivemanifest.h"
#include "delivery/ffmpeghandler.h"
#include "delivery/transferdetail.h"

// The copy of ticked tracks to the car's drive (or a folder): one media root
// "<vehicle> Media" with a folder per album, per playlist and for videos, a
// folder picture, an M3U file per playlist, and audio the car can't play
// converted on the way into the conversion cache and copied from there.
//
// One job at a time runs copyFilesToDrive on a worker; it reads only its own
// copies (tracks, settings, codec lists) and its own stop flag, and reports
// through queued signals: exactly one incrementProgress per file it takes
// on, the last one only after the drive is flushed (sgSyncing says the flush
// begins), or sgDiskFull / sgDriveRemoved when it stops early.  What it wrote
// and what it left out, and why, is in lastOutcome() once the job has ended.
//
// Nothing takes another song's place.  A file already on the drive holds the
// same song when the drive's record (DriveManifest) says it was made from the
// same library file, or, for a file the record doesn't know or gives to a
// file this library doesn't have (a drive filled by hand or from another
// library), when it has the same bytes or its tags name the same song
// (title, artist, album, track number); only such a file is kept or replaced
// as the user's overwrite choice says ("all"; else "newer" or "higher
// quality", either one), in its place even where the drive has no room for
// both.  Any other file of that name is left alone and the song gets a free
// name (" (2)", compared without regard to case on FAT and exFAT); within one
// job a name already written is never written again.  Every playlist lists
// the files that hold its songs.  A copy keeps its source's modification
// time, so "newer" replaces only what changed since.  A file that can't be
// read or converted, or whose folder on the drive is a link, is left out and
// the job goes on; a full drive, a drive that is gone (the target is no
// longer the volume the job began on) or a drive that fails to take the
// files stops it.  Nothing is written or deleted through a link below the
// target.
//
// A song whose name is free on the drive is copied straight under that
// name, the drive's record naming it as being written until the drive is
// flushed (see DriveManifest); a file already there is replaced through a
// temporary file, so a failed copy never loses it.
class DriveCopier : public QObject
{
    Q_OBJECT

public:
    explicit DriveCopier(QObject *parent = nullptr);
    ~DriveCopier() override;

    // How the last job ended.
    struct Outcome
    {
        enum Halt { None, Full, Removed, Failed, Cancelled };
        Halt halt = None;
        QString reason;                         // Failed: what the system said
        int written = 0;                        // files the job put on the drive
        int kept = 0;                           // files already there holding their song, left as they were
        QList<QPair<QString, QString>> leftOut; // file, why
        QString recordUnwritten;                // why the drive's record could not be written, if it couldn't
    };

    // The job.  `stop` is the job's own cancel flag.  Returns the number of
    // files reported.
    int copyFilesToDrive(TrackMap tracks, transferDetail detail, const std::atomic<bool> &stop);

    // Ends a running conversion at once (the job's own flag, set by the
    // caller, ends the job before the next file).  Any thread.
    void stop();
    // What the last job did; read it once the job has ended.
    const Outcome &lastOutcome() const { return outcome; }

    // The tracks, in key order, whose file exists.
    QList<track> checkSystemCompatibility(TrackMap tracks, transferDetail detail);

    // The file's audio bit rate in kbit/s; 0 when it can't be read.
    static int GetBitRate(QString path);
    // Writes the folder picture (the cover fitted into 110 x 110, as PNG) at
    // target unless one is there.  False when nothing could be written.
    static bool copycover(QString cover, QString target);

    // The audio codec of a file (the job's converter's askForCodec); "" when unknown.
    QString askForCodec(const QString &path) const;
    // The name a file or folder gets on a drive whose file system can't
    // hold some characters: they are dropped, and so are trailing dots and
    // spaces; "_" when nothing is left.
    static QString fatSafeName(const QString &name);
    // Whether a write error says the drive itself fails (the whole job
    // stops) rather than that one file can't be written.
    static bool driveFails(int error);
    // FAT and exFAT keep modification times in steps of two seconds.
    static constexpr qint64 timeStepMs = 2000;

signals:
    void incrementProgress(QString Filename);
    void sgFiletranscoded(QString Filename);
    void sgDiskFull();
    void sgDriveRemoved();
    // The files are written; the drive is being flushed before the last report.
    void sgSyncing();

public:
    // One file of the job; the three below are its steps.  Each returns
    // false when the whole job must stop.
    bool CopyFileUSB(QString source, QString folder, int unused = 0);
    bool fileTrancodinMethod(QString sourcefilePath, QString targetfilePath, QString setCodec, QString extension);
    bool OnProcessOutputReady();
    bool UnableToProcess();

private:
    using Halt = Outcome::Halt;

    bool driveStillThere() const;
    // Whether `path` (or the nearest folder of it that exists) lies on the
    // volume the job began on.
    bool onTheDrive(const QString &path) const;
    // The first part of `path` below the target that is a symbolic link,
    // relative to the target; "" when none is.
    QString linkInside(const QString &path) const;
    // onTheDrive for a folder of the target, without asking again about
    // one this job has found to be a folder of the drive's.
    bool folderOnTheDrive(const QString &folder) const;
    // Why nothing can be written in `folder` of the target, or "".
    QString folderRefusal(const QString &folder) const;
    void report(const QString &text);
    void haltFor(Halt why, const QString &reason = QString());
    void leaveOut(const QString &name, const QString &why);
    // The song being transferred could not be given to the drive this time:
    // its playlist keeps an earlier transfer's copy of it, if one is there.
    void keepEarlierCopy();
    bool stopRequested() const;
    QString driveName(const QString &name) const;
    // Where the song made from `songSource` goes in `folder`: the first of
    // "name", "name (2)" ... that holds this song already (`holds` set) or
    // holds nothing.  `file` is what would be copied.
    QString targetFor(const QString &folder, const QString &name, const QString &file, bool &holds) const;
    bool holdsTheSong(const QString &onDrive, const QString &file) const;
    // Whether `source` (as the drive's record names it) is a file this
    // library has: one in its folder of copies.
    bool ourLibraryFile(const QString &source) const;
    QString nameKey(const QString &path) const;
    // The folder a track goes to (album, playlist or "Videos"), and its name on the drive.
    static QString folderOf(const track &item);
    QString knownCodec(const QString &path) const;
    QString driveFolder(const QString &folder) const;
    // Names in the drive's record, as being written, the files of the job
    // that are new on the drive, and asks each track's codec once.
    void planNewFiles(const TrackMap &tracks, const QSet<QString> &present, const QString &mediaRoot);
    // Writes the playlists and the drive's record at the end of the job.
    void writeRecords(const QString &mediaRoot);
    // A write error on the drive: the whole job's (false) or `what`'s alone.
    bool driveWriteFailed(int error, const QString &what);

    // ---- per job --------------------------------------------------------
    const std::atomic<bool> *stopFlag = nullptr;
    Outcome outcome;
    Halt halt = Halt::None;
    quint64 device = 0;         // the target's volume when the job began
    int volumeHandle = -1;      // a descriptor on that volume, for its flushes
    QHash<QString, QString> writtenBy; // this job's files (nameKey) -> song source
    DriveManifest manifest;
    QString songSource;                     // the library file of the track in hand
    QString convertedBase;                  // the name (no extension) a conversion of it gets on the drive
    QHash<QString, QString> convertedInJob; // song source -> its conversion, this job
    bool touchedDrive = false;
    bool wroteStraight = false;          // a file of this job went straight under its name
    QHash<QString, QString> codecs;      // source -> its codec, asked once per job
    transferDetail temp_TransferDetail;
    qint64 frespaceremain = 0;
    bool issystem = false;
    bool fatNames = false;
    QString mountRoot; // the volume's mount path when the job began
    QList<Details> lstCodecDetail;
    QList<Details> lstCodecDetailTemp;
    QString m3uPath;
    QString currentPlaylist;
    const QString playlistExtension = QStringLiteral("m3u");
    QString m3uEntry;
    QSet<QString> foldersMade;     // on the drive, by this job
    // Folders below the target this job found (lstat) to be folders of the
    // drive, not links: only the job makes folders there, so they stay so.
    mutable QSet<QString> verifiedFolders;
    // Names the job's plan found free on the drive (nameKey -> song source):
    // the exclusive create checks them again, so they aren't looked up twice.
    QHash<QString, QString> foundFree;
    QSet<QString> takenMeanwhile;  // names found free, then made by another (nameKey)
    QSet<QString> picturedFolders; // given their folder picture by this job
    QSet<QString> keptFiles;       // there before the job and left as they were (nameKey)
    QString libraryFolder;         // this library's own copies, ending in "/"
    QString Transdestinationpath;
    QString afterTransCodeDestination;
    QString coverPath;
    QString sourceName;    // the file name the current report names
    QString pendingReport; // held back until the next file, or the flush
    int reported = 0;
    CreatePlaylist createPlaylist;
    // The running job's converter, made afresh per job: its stop is final.
    std::unique_ptr<ffmpeghandler> converter;
    QMutex converterLock; // stop() comes from the GUI thread
};

#endif // DRIVECOPIER_H
