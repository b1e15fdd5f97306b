#pragma once
#include <QObject>
#include <QString>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;

// Posts measurement-protocol hits to the collection service. The service's
// address and the tracking identifier come from the settings store
// ("UserParameters"/"AnalyticsEndpoint" and "AnalyticsTrackingId"); with either
// missing nothing is ever sent. Posts are fire-and-forget.
class _AnalyticsManager : public QObject
{
    Q_OBJECT

public:
    // The process-wide manager, created on first use and owned by the application object.
    static _AnalyticsManager* instance();

    // endpoint: the service's base address; hits go to its "/collect" path.
    _AnalyticsManager(const QString& endpoint, const QString& trackingId, QObject* parent = nullptr);

    // hitType "pageview": a = page, b = title (c, d unused); "event": category, action, label, value.
    void send(const QString& hitType, const QString& a, const QString& b, const QString& c, const QString& d);

public slots:
    void finished(QNetworkReply* reply);

private:
    QUrl collectUrl;
    QString trackingId;
    QNetworkAccessManager* network = nullptr;
};

void sendAnalyticsEvent(const QString& category, const QString& action, const QString& label, const QString& value);
