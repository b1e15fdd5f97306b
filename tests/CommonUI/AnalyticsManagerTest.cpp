#include "AnalyticsManager.h"
#include "TestFiles.h"
#include "TestMedia.h"

#include <QDir>
#include <QNetworkReply>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include <map>
#include <utility>
#include <vector>

namespace {

using Fields = std::vector<std::pair<QString, QString>>;

struct Request
{
    QByteArray head;
    Fields fields;
};

Fields decodeForm(const QByteArray& body)
{
    Fields fields;
    for (const QByteArray& item : body.split('&')) {
        const int equals = item.indexOf('=');
        auto decode = [](QByteArray text) { return QUrl::fromPercentEncoding(text.replace('+', ' ')); };
        fields.emplace_back(decode(item.left(equals)), decode(item.mid(equals + 1)));
    }
    return fields;
}

QStringList keysOf(const Fields& fields)
{
    QStringList keys;
    for (const auto& field : fields)
        keys << field.first;
    return keys;
}

QString valueOf(const Fields& fields, const QString& key)
{
    for (const auto& field : fields) {
        if (field.first == key)
            return field.second;
    }
    return QString();
}

// A collection service on the loopback address that answers every request with 200.
class LocalCollector
{
public:
    LocalCollector()
    {
        server.listen(QHostAddress::LocalHost);
        QObject::connect(&server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* socket = server.nextPendingConnection())
                QObject::connect(socket, &QTcpSocket::readyRead, [this, socket] { receive(socket); });
        });
    }

    QString endpoint(const QString& path = QString()) const
    {
        return QString("http://127.0.0.1:%1%2").arg(server.serverPort()).arg(path);
    }

    bool waitFor(std::size_t count)
    {
        return QTest::qWaitFor([&] { return requests.size() >= count; }, 5000);
    }

    std::vector<Request> requests;

private:
    void receive(QTcpSocket* socket)
    {
        QByteArray& buffer = pending[socket];
        buffer += socket->readAll();
        const int headEnd = buffer.indexOf("\r\n\r\n");
        if (headEnd < 0)
            return;
        const QByteArray head = buffer.left(headEnd);
        int length = 0;
        for (const QByteArray& line : head.split('\n')) {
            if (line.toLower().startsWith("content-length:"))
                length = line.mid(15).trimmed().toInt();
        }
        if (buffer.size() < headEnd + 4 + length)
            return;
        requests.push_back({head, decodeForm(buffer.mid(headEnd + 4, length))});
        buffer.clear();
        socket->write("HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        socket->disconnectFromHost();
    }

    QTcpServer server;
    std::map<QTcpSocket*, QByteArray> pending;
};

bool repliesReleased(const QObject& manager)
{
    return QTest::qWaitFor([&] { return manager.findChildren<QNetworkReply*>().isEmpty(); }, 15000);
}

TEST(AnalyticsManager, EventHitIsPostedWithFieldsInOrder)
{
    LocalCollector collector;
    _AnalyticsManager manager(collector.endpoint(), "UA-TEST-1");
    manager.send("event", "NewInstal", "NewInstalWinSt", "NewInstalWinSt_v3.2.0", "1");
    ASSERT_TRUE(collector.waitFor(1));

    const Request& request = collector.requests.front();
    EXPECT_TRUE(request.head.startsWith("POST /collect HTTP/1.1\r\n")) << request.head.constData();
    EXPECT_TRUE(request.head.toLower().contains("content-type: application/x-www-form-urlencoded"));
    EXPECT_EQ(keysOf(request.fields), (QStringList{"v", "tid", "cid", "t", "ec", "ea", "el", "ev"}));
    const Fields expected = {{"v", "1"}, {"tid", "UA-TEST-1"}, {"t", "event"}, {"ec", "NewInstal"},
                             {"ea", "NewInstalWinSt"}, {"el", "NewInstalWinSt_v3.2.0"}, {"ev", "1"}};
    for (const auto& [key, value] : expected)
        EXPECT_EQ(valueOf(request.fields, key), value) << key.toStdString();
    const QString cid = valueOf(request.fields, "cid");
    EXPECT_TRUE(cid.startsWith('{') && cid.endsWith('}')) << cid.toStdString();
    EXPECT_TRUE(repliesReleased(manager));
}

TEST(AnalyticsManager, PageviewHitsCarryHostPageAndTitleAndFreshClientIds)
{
    LocalCollector collector;
    _AnalyticsManager manager(collector.endpoint("/base/"), "UA-TEST-2");
    manager.send("pageview", "/start", "Start & go + more", "", "");
    manager.send("pageview", "/start", "Again", "", "");
    ASSERT_TRUE(collector.waitFor(2));

    for (const Request& request : collector.requests) {
        EXPECT_TRUE(request.head.startsWith("POST /base/collect ")) << request.head.constData();
        EXPECT_EQ(keysOf(request.fields), (QStringList{"v", "tid", "cid", "t", "dh", "dp", "dt"}));
        EXPECT_EQ(valueOf(request.fields, "dp"), "/start");
    }
    QStringList titles;
    for (const Request& request : collector.requests)
        titles << valueOf(request.fields, "dt");
    titles.sort();
    EXPECT_EQ(titles, (QStringList{"Again", "Start & go + more"}));
    EXPECT_NE(valueOf(collector.requests[0].fields, "cid"), valueOf(collector.requests[1].fields, "cid"));
}

TEST(AnalyticsManager, ClosedPortNeitherThrowsNorBlocksAndReleasesTheReply)
{
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
        closedPort = probe.serverPort();
    }
    _AnalyticsManager manager(QString("http://127.0.0.1:%1").arg(closedPort), "UA-TEST-3");
    EXPECT_NO_THROW(manager.send("event", "a", "b", "c", "d"));
    // The refusal comes back through the event loop, after send() has returned.
    const QList<QNetworkReply*> inFlight = manager.findChildren<QNetworkReply*>();
    ASSERT_EQ(inFlight.size(), 1);
    EXPECT_FALSE(inFlight.first()->isFinished());
    EXPECT_TRUE(repliesReleased(manager));
}

TEST(AnalyticsManager, NothingIsSentWithoutValidConfiguration)
{
    const QString logDir = testmedia::makeTempDir("analytics-log");
    testfiles::useLogIn(logDir);
    const std::vector<std::pair<QString, QString>> configurations = {
        {"", "UA-TEST"}, {"http://127.0.0.1:9", ""}, {"ftp://127.0.0.1/", "UA-TEST"}, {"not a url", "UA-TEST"}};
    for (const auto& [endpoint, trackingId] : configurations) {
        _AnalyticsManager manager(endpoint, trackingId);
        manager.send("event", "a", "b", "c", "d");
        EXPECT_TRUE(manager.findChildren<QNetworkReply*>().isEmpty()) << endpoint.toStdString();
    }
    EXPECT_EQ(testfiles::countInLog("Ignoring invalid collection endpoint"), 2);
    QDir(logDir).removeRecursively();
}

TEST(AnalyticsManager, SharedInstanceWithEmptySettingsSendsNothing)
{
    const QString settingsDir = testmedia::makeTempDir("analytics-settings");
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir);
    ASSERT_FALSE(QSettings("Orvane", "Vellumbra 3").contains("UserParameters/AnalyticsEndpoint"));
    sendAnalyticsEvent("NewInstal", "NewInstalWinSt", "NewInstalWinSt_v3.2.0", "1");
    ASSERT_EQ(_AnalyticsManager::instance(), _AnalyticsManager::instance());
    EXPECT_TRUE(_AnalyticsManager::instance()->findChildren<QNetworkReply*>().isEmpty());
    QDir(settingsDir).removeRecursively();
}

}  // namespace
