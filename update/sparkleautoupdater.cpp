#include "update/sparkleautoupdater.h"

#include <QLoggingCategory>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

Q_LOGGING_CATEGORY(lcUpdate, "corvane.update")

namespace {
// A feed that takes longer than this is given up; the next start checks again.
constexpr int feedTimeoutMs = 30000;
} // namespace

SparkleAutoUpdater::SparkleAutoUpdater(const QString &feedUrl)
    : m_feedUrl(QUrl(feedUrl))
{
}

SparkleAutoUpdater::~SparkleAutoUpdater() = default;

QString SparkleAutoUpdater::defaultFeedUrl()
{
    return QStringLiteral("https://updates.corvane.example/update/mac/updatemac.xml");
}

void SparkleAutoUpdater::checkForUpdates()
{
    m_automaticChecks = true;
    if (m_checking)
        return;
    if (!m_feedUrl.isValid() || m_feedUrl.isEmpty()) {
        qCDebug(lcUpdate) << "no valid update feed:" << m_feedUrl;
        return;
    }
    if (!m_network)
        m_network = std::make_unique<QNetworkAccessManager>();

    QNetworkRequest request(m_feedUrl);
    request.setTransferTimeout(feedTimeoutMs);
    QNetworkReply *reply = m_network->get(request);
    m_checking = true;
    // The manager is the context: when the updater goes, the manager, the
    // reply and this connection go with it.
    QObject::connect(reply, &QNetworkReply::finished, m_network.get(), [this, reply] {
        m_checking = false;
        if (reply->error() == QNetworkReply::NoError) {
            m_lastFeed = reply->readAll();
            qCDebug(lcUpdate) << "update feed fetched," << m_lastFeed.size() << "bytes";
        } else {
            qCDebug(lcUpdate) << "update check failed:" << reply->errorString();
        }
        reply->deleteLater();
    });
}

QUrl SparkleAutoUpdater::feedUrl() const
{
    return m_feedUrl;
}

bool SparkleAutoUpdater::automaticallyChecksForUpdates() const
{
    return m_automaticChecks;
}

bool SparkleAutoUpdater::isChecking() const
{
    return m_checking;
}

QByteArray SparkleAutoUpdater::lastFeed() const
{
    return m_lastFeed;
}
