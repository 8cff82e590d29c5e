#include "update/sparkleautoupdater.h"

#include <QLoggingCategory>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QVersionNumber>
#include <QXmlStreamReader>

#include "core/logging.h"

Q_LOGGING_CATEGORY(lcUpdate, "corvane.update")

namespace {
// An appcast item's version: its short (display) version where it has one,
// as an element or on its enclosure, else its version.
struct ItemVersions
{
    QString shortVersion;
    QString version;
    QString link;
    QString enclosure;

    QString best() const { return shortVersion.isEmpty() ? version : shortVersion; }
};

// Trailing zeros don't count: 1.4.0 is 1.4.
QVersionNumber versionNumber(const QString &text)
{
    return QVersionNumber::fromString(text.trimmed()).normalized();
}
} // namespace

SparkleAutoUpdater::SparkleAutoUpdater(const QString &feedUrl, const QString &ownVersion)
    : m_feedUrl(QUrl(feedUrl)), m_ownVersion(ownVersion)
{
}

SparkleAutoUpdater::~SparkleAutoUpdater() = default;

QString SparkleAutoUpdater::defaultFeedUrl()
{
    return QStringLiteral("https://updates.corvane.example/update/mac/updatemac.xml");
}

QString SparkleAutoUpdater::programVersion()
{
    return QStringLiteral(CORVANE_VERSION);
}

std::optional<SparkleAutoUpdater::Release> SparkleAutoUpdater::newestRelease(const QByteArray &feed, QString *why)
{
    QXmlStreamReader xml(feed);
    std::optional<Release> newest;
    QVersionNumber newestNumber;
    std::optional<ItemVersions> item;
    int depth = 0;
    // readElementText() ends on the element's end, which the loop below then
    // never sees: it counts that end here.
    const auto elementText = [&xml, &depth] {
        const QString text = xml.readElementText().trimmed();
        --depth;
        return text;
    };
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isEndElement())
            --depth;
        if (xml.isStartElement() && ++depth > maxFeedDepth) {
            xml.raiseError(QStringLiteral("elements nested deeper than %1 levels").arg(maxFeedDepth));
            break;
        }
        // Sparkle's elements and attributes are matched by their local
        // names, whatever prefix the feed binds its namespace to.
        const QStringView name = xml.name();
        if (xml.isStartElement()) {
            if (name == QLatin1String("item")) {
                item = ItemVersions();
            } else if (item && name == QLatin1String("enclosure")) {
                for (const QXmlStreamAttribute &attribute : xml.attributes()) {
                    if (attribute.name() == QLatin1String("shortVersionString"))
                        item->shortVersion = attribute.value().toString().trimmed();
                    else if (attribute.name() == QLatin1String("version"))
                        item->version = attribute.value().toString().trimmed();
                    else if (attribute.name() == QLatin1String("url"))
                        item->enclosure = attribute.value().toString().trimmed();
                }
            } else if (item && name == QLatin1String("shortVersionString")) {
                item->shortVersion = elementText();
            } else if (item && name == QLatin1String("version")) {
                item->version = elementText();
            } else if (item && name == QLatin1String("link") && xml.namespaceUri().isEmpty()) {
                item->link = elementText();
            }
        } else if (xml.isEndElement() && name == QLatin1String("item") && item) {
            const QVersionNumber number = versionNumber(item->best());
            if (!number.isNull() && (!newest || number > newestNumber)) {
                newestNumber = number;
                newest = Release{item->best(), item->link.isEmpty() ? item->enclosure : item->link};
            }
            item.reset();
        }
    }
    if (xml.hasError()) {
        if (why)
            *why = QStringLiteral("the update feed is not well-formed (line %1: %2)")
                       .arg(xml.lineNumber())
                       .arg(xml.errorString());
        return std::nullopt;
    }
    if (!newest && why)
        *why = QStringLiteral("the update feed names no version");
    return newest;
}

void SparkleAutoUpdater::setNotice(Notice notice)
{
    m_notice = std::move(notice);
}

void SparkleAutoUpdater::setTimeLimit(int milliseconds)
{
    m_timeLimitMs = milliseconds;
}

void SparkleAutoUpdater::checkForUpdates()
{
    m_automaticChecks = true;
    if (m_checking)
        return;
    if (!m_feedUrl.isValid() || m_feedUrl.isEmpty()) {
        logFailure(QStringLiteral("no valid update feed: ") + m_feedUrl.toString());
        return;
    }
    if (!m_network)
        m_network = std::make_unique<QNetworkAccessManager>();

    QNetworkRequest request(m_feedUrl);
    // One limit for the whole fetch, silent or not: a transfer timeout ends
    // only a fetch gone silent, and a server that sends a byte now and then
    // would keep the check running for good (every later check finding it
    // still running).
    QNetworkReply *reply = m_network->get(request);
    m_checking = true;
    auto timedOut = std::make_shared<bool>(false);
    QTimer::singleShot(m_timeLimitMs, reply, [reply, timedOut] {
        if (!reply->isRunning())
            return;
        *timedOut = true;
        reply->abort();
    });
    // The feed is read as it arrives, never more than the cap and one byte:
    // a server sending without end is cut off rather than filling memory.
    reply->setReadBufferSize(64 * 1024);
    auto received = std::make_shared<QByteArray>();
    auto tooLarge = std::make_shared<bool>(false);
    const auto cutOff = [reply, tooLarge] {
        *tooLarge = true;
        reply->abort();
    };
    QObject::connect(reply, &QNetworkReply::metaDataChanged, m_network.get(), [reply, cutOff] {
        bool known = false;
        const qint64 length = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
        if (known && length > maxFeedBytes)
            cutOff();
    });
    QObject::connect(reply, &QNetworkReply::readyRead, m_network.get(), [reply, received, tooLarge, cutOff] {
        while (!*tooLarge && reply->bytesAvailable() > 0) {
            received->append(reply->read(maxFeedBytes + 1 - received->size()));
            if (received->size() > maxFeedBytes)
                cutOff();
        }
    });
    // The manager is the context: when the updater goes, the manager, the
    // reply and these connections go with it.
    QObject::connect(reply, &QNetworkReply::finished, m_network.get(), [this, reply, received, tooLarge, timedOut] {
        m_checking = false;
        reply->deleteLater();
        if (*timedOut) {
            logFailure(QStringLiteral("the update feed did not arrive within %1 s").arg(m_timeLimitMs / 1000.0));
            return;
        }
        if (!*tooLarge && reply->error() == QNetworkReply::NoError) {
            received->append(reply->read(maxFeedBytes + 1 - received->size()));
            *tooLarge = received->size() > maxFeedBytes;
        }
        if (*tooLarge) {
            logFailure(QStringLiteral("the update feed is larger than %1 bytes; it was not read").arg(maxFeedBytes));
            return;
        }
        if (reply->error() != QNetworkReply::NoError) {
            logFailure(reply->errorString());
            return;
        }
        m_lastFeed = *received;
        feedFetched(m_lastFeed);
    });
}

void SparkleAutoUpdater::feedFetched(const QByteArray &feed)
{
    QString why;
    const std::optional<Release> newest = newestRelease(feed, &why);
    if (!newest) {
        logFailure(why);
        return;
    }
    const QVersionNumber own = versionNumber(m_ownVersion);
    qCDebug(lcUpdate) << "newest release" << newest->version << "this program" << m_ownVersion;
    if (versionNumber(newest->version) <= own || newest->version == m_toldVersion)
        return;
    m_toldVersion = newest->version;
    // Where no item says where to get it, the update server is the place.
    QString where = newest->where;
    if (where.isEmpty())
        where = m_feedUrl.adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment).toString();
    if (m_notice)
        m_notice(QStringLiteral("Corvane Media Organiser %1 is available (you have %2). You can get it from %3")
                     .arg(newest->version, m_ownVersion, where));
}

void SparkleAutoUpdater::logFailure(const QString &why)
{
    Logging::getInstance()->WriteLog(QStringLiteral("Update check failed: "), why);
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
