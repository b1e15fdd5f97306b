#include "LanguageEngine.h"
#include "ModalScript.h"
#include "ProcessDefaultsGuard.h"
#include "TemporaryEnvironment.h"
#include "UpdateCheck.h"
#include "vellumbraV2.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QMutex>
#include <QPointer>
#include <QSettings>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QUrl>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>

using windowtest::ModalScript;
using windowtest::TemporaryEnvironment;

namespace {

// Answers every GET with one fixed body, from a thread of its own so that the
// interface thread under test can block on the request.
class LoopbackHttpServer : public QObject
{
    Q_OBJECT

public:
    explicit LoopbackHttpServer(const QByteArray& body) : body(body)
    {
        server.moveToThread(&thread);
        moveToThread(&thread);
        thread.start();
        QMetaObject::invokeMethod(this, &LoopbackHttpServer::listen, Qt::BlockingQueuedConnection);
    }
    ~LoopbackHttpServer() override
    {
        QMetaObject::invokeMethod(&server, &QTcpServer::close, Qt::BlockingQueuedConnection);
        thread.quit();
        thread.wait();
    }

    QString address() const { return QString("http://127.0.0.1:%1").arg(port.load()); }
    QByteArray lastRequestLine() const
    {
        QMutexLocker locker(&mutex);
        return requestLine;
    }

private:
    void listen()
    {
        connect(&server, &QTcpServer::newConnection, this, &LoopbackHttpServer::answer);
        server.listen(QHostAddress::LocalHost);
        port = server.serverPort();
    }

    void answer()
    {
        QTcpSocket* socket = server.nextPendingConnection();
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
            request += socket->readAll();
            if (!request.contains("\r\n\r\n"))
                return;
            {
                QMutexLocker locker(&mutex);
                requestLine = request.left(request.indexOf("\r\n"));
            }
            request.clear();
            socket->write("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) +
                          "\r\nConnection: close\r\n\r\n" + body);
            socket->disconnectFromHost();
        });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }

    QByteArray body;
    QByteArray request;
    QTcpServer server;
    QThread thread;
    // Set on the server's thread; the blocking call that waits for it orders it inside Qt.
    std::atomic<quint16> port{0};
    mutable QMutex mutex;
    QByteArray requestLine;
};

// A loopback port nothing listens on.
QString refusedAddress()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return QString("http://127.0.0.1:%1").arg(probe.serverPort());
}

// Collects the addresses the window hands to the web browser.
class BrowserCapture : public QObject
{
    Q_OBJECT

public:
    BrowserCapture()
    {
        for (const char* scheme : {"http", "https"})
            QDesktopServices::setUrlHandler(scheme, this, "open");
    }
    ~BrowserCapture() override
    {
        for (const char* scheme : {"http", "https"})
            QDesktopServices::unsetUrlHandler(scheme);
    }
    QList<QUrl> opened;

public slots:
    void open(const QUrl& url) { opened << url; }
};

void setServiceAddress(const QString& address)
{
    QSettings().setValue("UserParameters/UpdateServiceAddress", address);
}

// Waits for the running (or the automatic) check to end.
bool waitForCheck(QSignalSpy& finished)
{
    return !finished.isEmpty() || finished.wait(20000);
}

class HelpAndUpdates : public ::testing::Test
{
    ProcessDefaultsGuard defaults;

protected:
    TemporaryEnvironment environment;
    BrowserCapture browser;
};

QString text(const char* key)
{
    return translate(key);
}

}  // namespace

TEST_F(HelpAndUpdates, MenuCheckAnswersEachKindOfServiceReply)
{
    struct Case {
        const char* body;
        const char* expectedBox;  // a key of the box's title or text
        QString version;          // shown in an announcement
        bool note;                // the note of a new major version
    };
    const Case cases[] = {
        {R"({"major":3,"minor":2,"patch":1,"url":"https://127.0.0.1/download"})", "NewVersion", "3.2.1", false},
        {R"({"major":3,"minor":3,"patch":0})", "NewVersion", "3.3.0", false},
        {R"({"major":4,"minor":0,"patch":0})", "NewVersion", "4.0.0", true},
        {R"({"major":3,"minor":2,"patch":1} and text after the brace)", "NewVersion", "3.2.1", false},
        {R"({"major":3,"minor":2,"patch":0})", "NoUpdates", "", false},
        {R"({"major":3,"minor":1,"patch":9})", "NoUpdates", "", false},
        {R"({"major":2,"minor":9,"patch":9})", "NoUpdates", "", false},
        {R"({"minor":9})", "NoUpdates", "", false},
        {R"({"major":"4","minor":0,"patch":0})", "NoUpdates", "", false},
        {"not an answer at all", "ExplanationError", "", false},
        {"[4, 0, 0]", "ExplanationError", "", false},
        {R"({"major":4 without its brace)", "ExplanationError", "", false},
        {"", "ExplanationError", "", false},
    };
    VellumbraV2 window;
    QSignalSpy finished(&window, &VellumbraV2::updateCheckFinished);
    ASSERT_TRUE(waitForCheck(finished));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        LoopbackHttpServer server(c.body);
        setServiceAddress(server.address());
        QString shownText;
        bool offeredDoNotShow = true;
        ModalScript script;
        script.expect(ModalScript::Kind::MessageBox, text(c.expectedBox), [&](QWidget* modal) {
            auto* box = static_cast<QMessageBox*>(modal);
            shownText = box->text();
            offeredDoNotShow = box->findChild<QCheckBox*>() != nullptr;
            box->button(box->buttons().contains(box->button(QMessageBox::No)) ? QMessageBox::No : QMessageBox::Ok)
                ->click();
        });
        finished.clear();
        window.findChild<QAction*>("actionCheck_updates")->trigger();
        ASSERT_TRUE(waitForCheck(finished));
        EXPECT_TRUE(script.waitUntilAnswered());
        EXPECT_EQ(server.lastRequestLine(), "GET /wp-json/hdr/v2/versions/current/WIN64 HTTP/1.1");
        EXPECT_FALSE(offeredDoNotShow);
        if (!c.version.isEmpty()) {
            EXPECT_TRUE(shownText.startsWith(text("NewVersionText").arg(c.version))) << shownText.toStdString();
            EXPECT_EQ(shownText.contains(text("NoteForNewVersion")), c.note);
        }
    }
}

TEST_F(HelpAndUpdates, FirstCheckIsQuietUnlessThereIsNewsAndOffersToStopAnnouncing)
{
    struct Case {
        const char* what;
        std::function<QString()> address;  // keeps the server alive through the case
        bool announced;
    };
    std::unique_ptr<LoopbackHttpServer> server;
    const auto serving = [&](const char* body) {
        return [&server, body] {
            server = std::make_unique<LoopbackHttpServer>(body);
            return server->address();
        };
    };
    const Case cases[] = {
        {"no service address", [] { return QString(); }, false},
        {"refused port", [] { return refusedAddress(); }, false},
        {"garbage", serving("<html>busy</html>"), false},
        {"same version", serving(R"({"major":3,"minor":2,"patch":0})"), false},
        {"newer version", serving(R"({"major":3,"minor":2,"patch":1})"), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        setServiceAddress(c.address());
        ModalScript script;
        if (c.announced) {
            // Tick "do not show again" and decline.
            script.expect(ModalScript::Kind::MessageBox, text("NewVersion"), [](QWidget* modal) {
                auto* box = static_cast<QMessageBox*>(modal);
                QCheckBox* doNotShow = box->findChild<QCheckBox*>();
                ASSERT_NE(doNotShow, nullptr);
                EXPECT_EQ(doNotShow->text(), text("DoNotShowAgain"));
                doNotShow->setChecked(true);
                box->button(QMessageBox::No)->click();
            });
        }
        VellumbraV2 window;
        QSignalSpy finished(&window, &VellumbraV2::updateCheckFinished);
        ASSERT_TRUE(waitForCheck(finished));
        EXPECT_TRUE(script.waitUntilAnswered());
        EXPECT_TRUE(browser.opened.isEmpty());
        if (!c.announced)
            continue;
        // Announcements stay off for this run: the menu says there is nothing new.
        EXPECT_FALSE(QSettings().value("UserParameters/ShowUpdates").toBool());
        script.messageBox(text("NoUpdates"), QMessageBox::Ok);
        finished.clear();
        window.findChild<QAction*>("actionCheck_updates")->trigger();
        ASSERT_TRUE(waitForCheck(finished));
        EXPECT_TRUE(script.waitUntilAnswered());
    }
}

TEST_F(HelpAndUpdates, AcceptingTheNewVersionOpensItsPageAndEndsTheProgram)
{
    LoopbackHttpServer server(R"({"major":4,"minor":1,"patch":2,"url":"https://127.0.0.1/get vellumbra"})");
    setServiceAddress(server.address());
    ModalScript script;
    script.messageBox(text("NewVersion"), QMessageBox::Yes).messageBox(text("DialogUpdateText"), QMessageBox::Ok);
    VellumbraV2 window;
    QSignalSpy finished(&window, &VellumbraV2::updateCheckFinished);
    ASSERT_TRUE(waitForCheck(finished));
    EXPECT_TRUE(script.waitUntilAnswered());
    ASSERT_EQ(browser.opened.size(), 1);
    EXPECT_EQ(browser.opened[0], QUrl("https://127.0.0.1/get%20vellumbra"));
    // The program was told to end; a run of the event loop takes that request
    // so that later dialogs of this test program run again.
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
}

TEST_F(HelpAndUpdates, WebPagesFollowTheLanguageAndTheVariant)
{
    struct Case {
        QString language;
        bool handOff;
        const char* action;
        const char* path;
    };
    const Case cases[] = {
        {"English", false, "actionFAQ", "/frequently-asked-questions/"},
        {"Francais", false, "actionFAQ", "/fr/faq/"},
        {"", false, "actionTutorial", "/learning-materials/"},
        {"Francais", false, "actionTutorial", "/fr/ressources/"},
        {"Deutsch", false, "actionGuide", "/user-guide-standalone-version/"},
        {"Francais", false, "actionGuide", "/fr/tutoriel-autonome-vellumbra/"},
        {"English", true, "actionGuide", "/user-guide-lightroom-plugin-version/"},
        {"Francais", true, "actionGuide", "/fr/tutoriel-plugin-lightroom/"},
    };
    VellumbraV2 standalone;
    VellumbraV2 handOff("result.txt", "second");
    for (const Case& c : cases) {
        QSettings().setValue("GeneralSettings/ChosenLanguage", c.language);
        browser.opened.clear();
        (c.handOff ? handOff : standalone).findChild<QAction*>(c.action)->trigger();
        ASSERT_EQ(browser.opened.size(), 1) << c.action;
        EXPECT_EQ(browser.opened[0], QUrl(QString("https://vellumbra.example") + c.path))
            << c.action << " " << c.language.toStdString();
    }
}

TEST_F(HelpAndUpdates, AboutBoxNamesTheVersion)
{
    VellumbraV2 window;
    ModalScript script;
    script.messageBox(text("AboutVellumbra").arg("3.2.0"), QMessageBox::Ok);
    window.findChild<QAction*>("actionAbout")->trigger();
    EXPECT_TRUE(script.waitUntilAnswered());
}

TEST(ClearLayout, DeletesEveryWidgetAndNestedLayout)
{
    QWidget parent;
    auto* outer = new QVBoxLayout(&parent);
    QPointer<QWidget> direct = new QWidget;
    QPointer<QWidget> nestedWidget = new QWidget;
    auto* nested = new QHBoxLayout;
    QPointer<QLayout> nestedLayout = nested;
    nested->addWidget(nestedWidget);
    outer->addWidget(direct);
    outer->addLayout(nested);
    outer->addStretch();

    VellumbraV2::clearLayout(outer);
    EXPECT_EQ(outer->count(), 0);
    EXPECT_TRUE(direct.isNull());
    EXPECT_TRUE(nestedWidget.isNull());
    EXPECT_TRUE(nestedLayout.isNull());
    VellumbraV2::clearLayout(outer);
    EXPECT_EQ(outer->count(), 0);
}

TEST(UpdateRequestUrl, JoinsTheAddressAndTheVersionPath)
{
    EXPECT_EQ(updateRequestUrl(""), "");
    EXPECT_EQ(updateRequestUrl("  "), "");
    EXPECT_EQ(updateRequestUrl("https://updates.example"), "https://updates.example/wp-json/hdr/v2/versions/current/WIN64");
    EXPECT_EQ(updateRequestUrl("https://updates.example/"), "https://updates.example/wp-json/hdr/v2/versions/current/WIN64");
}

#include "HelpAndUpdatesTest.moc"
