#ifndef PROBEOUTPUT_H
#define PROBEOUTPUT_H

#include <QByteArray>
#include <QString>

// Readers of what ffprobe and ffmpeg print.  Pure functions of the text, so
// they are tested on canned output without running either program.
class ProbeOutput
{
public:
    // The output as text: 8-bit, cut at the first NUL byte, trimmed.
    static QString text(const QByteArray &output);

    // Seconds of the first video stream in ffprobe's "-show_streams" output
    // (key=value lines, keys compared lower-cased).  A "duration" line counts
    // only while the latest "codec_type" is exactly "video"; 0 when there is
    // no such line or its value is not a number ("N/A").
    static double videoStreamDuration(const QString &showStreams);

    // The time text of ffmpeg's input report ("  Duration: 00:03:25.47,
    // start: ..."): the 11 characters that start 10 after the first
    // "Duration", trimmed.  Empty when the report has no "Duration".
    static QString durationText(const QString &report);

    // durationText() in seconds; 0 when it isn't hours:minutes:seconds.
    static double reportDuration(const QString &report);

    // What "-show_streams -show_format" tells about a file's playable
    // streams: the first audio stream and whether a moving picture (a video
    // stream that is no attached cover) is there.  Numbers a stream lacks
    // ("N/A") stay 0; the duration falls back on the format's.
    struct Streams
    {
        bool hasAudio = false;
        bool hasVideo = false;
        int sampleRate = 0;   // Hz, of the first audio stream
        int channels = 0;
        int bitrate = 0;      // kbit/s: the audio stream's, else the format's
        double duration = 0;  // seconds: the audio (else video) stream's, else the format's
    };
    static Streams streams(const QString &showStreamsAndFormat);
};

#endif // PROBEOUTPUT_H
