#ifndef SPARKLEAUTOUPDATER_H
#define SPARKLEAUTOUPDATER_H

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <memory>

#include "update/autoupdater.h"

class QNetworkAccessManager;

// The update checker main() starts.  It keeps its feed URL; checkForUpdates()
// switches automatic checks on and fetches the feed in the background: it
// never blocks, never shows anything, and when the machine is offline or the
// server does not answer the check simply ends (a debug line in the
// "corvane.update" category says why).
//
// Make it after the application object exists; it lives in the GUI thread.
class SparkleAutoUpdater : public AutoUpdater
{
public:
    explicit SparkleAutoUpdater(const QString &feedUrl);
    ~SparkleAutoUpdater() override;

    SparkleAutoUpdater(const SparkleAutoUpdater &) = delete;
    SparkleAutoUpdater &operator=(const SparkleAutoUpdater &) = delete;

    // The appcast on the update server.
    static QString defaultFeedUrl();

    void checkForUpdates() override;

    QUrl feedUrl() const;
    bool automaticallyChecksForUpdates() const;
    // True from checkForUpdates() until its fetch has ended, either way.
    bool isChecking() const;
    // The feed fetched by the last successful check; empty before one.
    QByteArray lastFeed() const;

private:
    QUrl m_feedUrl;
    bool m_automaticChecks = false;
    bool m_checking = false;
    QByteArray m_lastFeed;
    std::unique_ptr<QNetworkAccessManager> m_network;
};

#endif // SPARKLEAUTOUPDATER_H
