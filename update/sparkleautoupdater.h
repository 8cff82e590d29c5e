#ifndef SPARKLEAUTOUPDATER_H
#define SPARKLEAUTOUPDATER_H

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

#include "update/autoupdater.h"

class QNetworkAccessManager;

// The update checker main() starts.  It keeps its feed URL; checkForUpdates()
// switches automatic checks on and fetches the feed (an RSS appcast) in the
// background, without blocking.  When the feed's newest release is newer than
// the program, the user is told once: the version and where to get it.
// Nothing is downloaded or installed.  When the machine is offline, the
// server does not answer or the feed can't be read, nothing is shown and one
// line in the process log says why.
//
// Make it after the application object exists; it lives in the GUI thread.
class SparkleAutoUpdater : public AutoUpdater
{
public:
    // How the user is told: one message text.
    using Notice = std::function<void(const QString &text)>;

    struct Release
    {
        QString version;
        QString where; // the page or file to get it from
    };

    // `ownVersion`: the version the feed's releases are compared with.
    explicit SparkleAutoUpdater(const QString &feedUrl, const QString &ownVersion = programVersion());
    ~SparkleAutoUpdater() override;

    SparkleAutoUpdater(const SparkleAutoUpdater &) = delete;
    SparkleAutoUpdater &operator=(const SparkleAutoUpdater &) = delete;

    // An appcast is a few kilobytes: a feed past this is no appcast, and the
    // check stops reading it.
    static constexpr qint64 maxFeedBytes = 1024 * 1024;
    // Elements nested deeper than this make a feed damaged (an appcast is
    // five deep); the reader's memory grows with the depth.
    static constexpr int maxFeedDepth = 64;
    // A check that has not fetched the whole feed by then is given up,
    // however steadily the server trickles it.
    static constexpr int feedTimeLimitMs = 30000;

    // The appcast on the update server.
    static QString defaultFeedUrl();
    // This build's version.
    static QString programVersion();

    // The newest release an appcast names (by version number, not by order);
    // none when the feed is not well-formed, is nested deeper than
    // maxFeedDepth or names no version, and then `why` says so.
    static std::optional<Release> newestRelease(const QByteArray &feed, QString *why = nullptr);

    void setNotice(Notice notice);
    // The overall limit of the next checks (feedTimeLimitMs unless set).
    void setTimeLimit(int milliseconds);
    void checkForUpdates() override;

    QUrl feedUrl() const;
    bool automaticallyChecksForUpdates() const;
    // True from checkForUpdates() until its fetch has ended, either way.
    bool isChecking() const;
    // The feed fetched by the last successful check; empty before one.
    QByteArray lastFeed() const;

private:
    void feedFetched(const QByteArray &feed);
    static void logFailure(const QString &why);

    QUrl m_feedUrl;
    QString m_ownVersion;
    bool m_automaticChecks = false;
    bool m_checking = false;
    int m_timeLimitMs = feedTimeLimitMs;
    QByteArray m_lastFeed;
    QString m_toldVersion; // the newer version the user was told of
    Notice m_notice;
    std::unique_ptr<QNetworkAccessManager> m_network;
};

#endif // SPARKLEAUTOUPDATER_H
