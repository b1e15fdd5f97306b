#include "AnalyticsManager.h"

#include "Log.h"

#include <QCoreApplication>
#include <QHostInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QSettings>
#include <QUuid>

#include <utility>
#include <vector>

namespace {

constexpr int kTransferTimeoutMs = 10000;

using QueryItems = std::vector<std::pair<QString, QString>>;

// Every reserved character is escaped, '+' included, which form decoding would read as a space.
QByteArray formEncode(const QueryItems& items)
{
    QByteArray body;
    for (const auto& [key, value] : items) {
        if (!body.isEmpty())
            body += '&';
        body += QUrl::toPercentEncoding(key) + '=' + QUrl::toPercentEncoding(value);
    }
    return body;
}

QUrl collectUrlOf(const QString& endpoint)
{
    if (endpoint.isEmpty())
        return QUrl();
    QUrl url(endpoint, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() || (url.scheme() != "http" && url.scheme() != "https")) {
        logError("_AnalyticsManager", "Ignoring invalid collection endpoint " + endpoint.toStdString());
        return QUrl();
    }
    QString path = url.path();
    while (path.endsWith('/'))
        path.chop(1);
    url.setPath(path + "/collect");
    return url;
}

}  // namespace

_AnalyticsManager* _AnalyticsManager::instance()
{
    static QPointer<_AnalyticsManager> manager;
    if (!manager) {
        QSettings settings(QStringLiteral("Orvane"), QStringLiteral("Vellumbra 3"));
        settings.beginGroup(QStringLiteral("UserParameters"));
        manager = new _AnalyticsManager(settings.value(QStringLiteral("AnalyticsEndpoint")).toString(),
                                        settings.value(QStringLiteral("AnalyticsTrackingId")).toString(),
                                        QCoreApplication::instance());
    }
    return manager;
}

_AnalyticsManager::_AnalyticsManager(const QString& endpoint, const QString& trackingId, QObject* parent)
    : QObject(parent)
    , collectUrl(collectUrlOf(endpoint))
    , trackingId(trackingId)
    , network(new QNetworkAccessManager(this))
{
    connect(network, SIGNAL(finished(QNetworkReply*)), this, SLOT(finished(QNetworkReply*)));
}

void _AnalyticsManager::send(const QString& hitType, const QString& a, const QString& b, const QString& c,
                             const QString& d)
{
    if (collectUrl.isEmpty() || trackingId.isEmpty())
        return;
    QueryItems items = {{"v", "1"}, {"tid", trackingId}, {"cid", QUuid::createUuid().toString()}, {"t", hitType}};
    if (hitType == QLatin1String("pageview")) {
        items.insert(items.end(), {{"dh", QHostInfo::localHostName() + "." + QHostInfo::localDomainName()},
                                   {"dp", a},
                                   {"dt", b}});
    } else if (hitType == QLatin1String("event")) {
        items.insert(items.end(), {{"ec", a}, {"ea", b}, {"el", c}, {"ev", d}});
    }
    QNetworkRequest request(collectUrl);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/x-www-form-urlencoded"));
    request.setTransferTimeout(kTransferTimeoutMs);
    network->post(request, formEncode(items));
}

void _AnalyticsManager::finished(QNetworkReply* reply)
{
    reply->deleteLater();
}

void sendAnalyticsEvent(const QString& category, const QString& action, const QString& label, const QString& value)
{
    _AnalyticsManager::instance()->send(QStringLiteral("event"), category, action, label, value);
}
