#include "realisticmusic.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tag.h>

#include "mediakit.h"

namespace testkit {

namespace {

// The cover size of each album, in bytes: 47-150 KB, skewed so that the
// median is about 105 KB, as in a real collection.
qint64 coverTarget(int album, int albums)
{
    const double spread = std::pow(double((album * 7) % albums) / (albums - 1), 0.8);
    return qint64((47 + 103 * spread) * 1000);
}

// A 500 x 500 JPEG of real album art's make-up (a test pattern of gradients
// and shapes under per-pixel noise); the noise is chosen so the file comes
// within 2 % of the album's target size.
QByteArray makeCover(int album, int albums)
{
    QImage base(500, 500, QImage::Format_RGB32);
    QPainter painter(&base);
    QLinearGradient gradient(0, 0, 500, 500);
    gradient.setColorAt(0, QColor::fromHsv(album * 37 % 360, 200, 230));
    gradient.setColorAt(1, QColor::fromHsv(album * 91 % 360, 160, 50));
    painter.fillRect(base.rect(), gradient);
    for (int i = 0; i < 6; ++i) {
        painter.setBrush(QColor::fromHsv((album * 53 + i * 60) % 360, 150, 240));
        painter.drawEllipse(QPoint(60 + i * 75, 100 + (album * 13 + i * 41) % 300), 40 + i * 5, 30 + album % 30);
    }
    painter.end();
    const auto encoded = [&](double noise) {
        QImage image = base;
        QRandomGenerator random(quint32(album + 1));
        for (int y = 0; y < image.height(); ++y) {
            auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                const auto jitter = [&](int value) {
                    return qBound(0, value + qRound((2 * random.generateDouble() - 1) * noise), 255);
                };
                line[x] = qRgb(jitter(qRed(line[x])), jitter(qGreen(line[x])), jitter(qBlue(line[x])));
            }
        }
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "JPEG", 85);
        return bytes;
    };
    const qint64 target = coverTarget(album, albums);
    double low = 0, high = 100;
    QByteArray best;
    for (int step = 0; step < 16; ++step) {
        const double noise = (low + high) / 2;
        best = encoded(noise);
        if (qAbs(best.size() - target) < target / 50)
            break;
        (best.size() < target ? low : high) = noise;
    }
    return best;
}

} // namespace

bool RealisticMusic::generate(const QString &root, int albums, int tracksPerAlbum, int trackSeconds)
{
    const QString sources = root + QStringLiteral("/.sources");
    MediaKit kit(sources);
    std::vector<qint64> coverSizes;
    for (int a = 0; a < albums; ++a) {
        const QByteArray bytes = makeCover(a, albums);
        const QString cover = sources + QStringLiteral("/cover%1.jpg").arg(a);
        QFile file(cover);
        if (bytes.isEmpty() || !file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            return false;
        file.close();
        coverSizes.push_back(bytes.size());
        MediaTags tags;
        tags.title = QStringLiteral("Song");
        tags.artist = QStringLiteral("Artist %1").arg(a / 4);
        tags.album = QStringLiteral("Album %1").arg(a);
        tags.genre = QStringLiteral("Rock");
        tags.year = 1970 + a % 50;
        const QString first = kit.mp3(QStringLiteral("album%1.mp3").arg(a), tags, cover, trackSeconds);
        if (first.isEmpty()) {
            std::fprintf(stderr, "ffmpeg failed: %s\n", qPrintable(kit.lastError()));
            return false;
        }
        const QString folder = root + QStringLiteral("/Artist %1/Album %2").arg(a / 4).arg(a);
        QDir().mkpath(folder);
        for (int t = 1; t <= tracksPerAlbum; ++t) {
            const QString path = folder + QStringLiteral("/%1 Song.mp3").arg(t, 2, 10, QLatin1Char('0'));
            if (!QFile::copy(first, path))
                return false;
            TagLib::MPEG::File mp3(QFile::encodeName(path).constData());
            mp3.tag()->setTitle(QStringToTString(QStringLiteral("Song %1").arg(t)));
            mp3.tag()->setTrack(unsigned(t));
            if (!mp3.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers, TagLib::ID3v2::v3))
                return false;
        }
    }
    std::sort(coverSizes.begin(), coverSizes.end());
    std::fprintf(stderr, "covers: %lld-%lld KB, median %lld KB\n", coverSizes.front() / 1000, coverSizes.back() / 1000,
                 coverSizes[coverSizes.size() / 2] / 1000);
    return QDir(sources).removeRecursively();
}


} // namespace testkit
