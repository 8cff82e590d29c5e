#ifndef SCANFIXTURE_H
#define SCANFIXTURE_H

#include <QByteArray>
#include <QColor>
#include <QString>
#include <QStringList>

#include "core/track.h"

// What the scan and import tests share: a clean start for the id counters,
// the name maps, the artwork folder and the library's staging tables, and
// looks at the files a scan leaves.
namespace testkit {

// Ids back to 1, the name and result maps and the mixed-folder map emptied,
// the artwork folder removed and the library tables emptied (the calling
// thread's connection must be open).
bool resetScanState();

// A file's bytes, or empty when it can't be read.
QByteArray fileBytes(const QString &path);

// The MD5 of a file's first audio stream decoded by ffmpeg, or empty when
// ffmpeg fails: the same after a tag save means the audio was untouched.
QByteArray audioMd5(const QString &path);

// Whether a picture's colour is `want` within ffmpeg's conversion error.
bool closeColour(const QColor &got, const QColor &want);

// Made-up scan results from "album|artist|title|kind" rows (kind p: podcast,
// v: video), ids from 1, files "/media/<title>.mp4".
TrackMap scannedTracks(const QStringList &rows);

} // namespace testkit

#endif // SCANFIXTURE_H
