#include "StartupValues.h"
#include "Utilities.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

TEST(IndexOfString, FindsFirstExactMatch)
{
    const char* const table[] = {"jpg", "JPG", "png", "jpg"};
    EXPECT_EQ(indexOfString(table, 4, "jpg"), 0);
    EXPECT_EQ(indexOfString(table, 4, "JPG"), 1);
    EXPECT_EQ(indexOfString(table, 4, "Png"), -1);
    EXPECT_EQ(indexOfString(table, 0, "jpg"), -1);
    EXPECT_EQ(indexOfString(table, -3, "jpg"), -1);
}

TEST(SplitString, BehavesLikeALineReader)
{
    using Pieces = std::vector<std::string>;
    EXPECT_EQ(splitString("a,,b,", ','), (Pieces{"a", "", "b"}));
    EXPECT_EQ(splitString("", ','), Pieces{});
    EXPECT_EQ(splitString(",", ','), Pieces{""});
    EXPECT_EQ(splitString("key:=value", ':'), (Pieces{"key", "=value"}));

    Pieces existing{"x"};
    splitStringInto("1 2", ' ', existing);
    EXPECT_EQ(existing, (Pieces{"x", "1", "2"}));
}

TEST(FitInBox, KeepsAspectRatio)
{
    struct Case {
        cv::Size size;
        int boxWidth, boxHeight, width, height;
    };
    const Case cases[] = {
        {{4000, 3000}, 400, 400, 400, 300},
        {{4000, 3000}, 400, 100, 133, 100},
        {{3000, 4000}, 400, 400, 300, 400},
        {{0, 3000}, 400, 400, 0, 0},
        {{4000, 0}, 400, 400, 0, 0},
        {{4000, 3000}, 0, 400, 0, 0},
        {{4000, 3000}, 400, 0, 0, 0},
    };
    for (const Case& c : cases) {
        int width = -1, height = -1;
        fitInBox(c.size, c.boxWidth, c.boxHeight, &width, &height);
        EXPECT_EQ(width, c.width) << c.size << " into " << c.boxWidth << "x" << c.boxHeight;
        EXPECT_EQ(height, c.height) << c.size << " into " << c.boxWidth << "x" << c.boxHeight;
    }
    fitInBox({10, 10}, 5, 5, nullptr, nullptr);
}

TEST(ExportDefaults, AreTheDocumentedValues)
{
    EXPECT_EQ(defaultJpgQuality(), 99);
    EXPECT_EQ(defaultPngCompression(), 3);
}

namespace {

// One-shot HTTP server on 127.0.0.1 that sends its body in several chunks.
class ChunkedServer {
public:
    explicit ChunkedServer(std::vector<std::string> chunks) : chunks_(std::move(chunks))
    {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(listener_, 1);
        socklen_t length = sizeof address;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serveOnce(); });
    }
    ~ChunkedServer()
    {
        thread_.join();
        close(listener_);
    }
    int port() const { return port_; }

private:
    void serveOnce()
    {
        const int client = accept(listener_, nullptr, nullptr);
        if (client < 0)
            return;
        char request[4096];
        (void)!recv(client, request, sizeof request, 0);
        std::size_t total = 0;
        for (const auto& chunk : chunks_)
            total += chunk.size();
        const std::string header = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(total) +
                                   "\r\nConnection: close\r\n\r\n";
        (void)!send(client, header.data(), header.size(), MSG_NOSIGNAL);
        for (const auto& chunk : chunks_) {
            (void)!send(client, chunk.data(), chunk.size(), MSG_NOSIGNAL);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        close(client);
    }

    std::vector<std::string> chunks_;
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
};

int unusedLoopbackPort()
{
    const int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    close(probe);  // nothing listens there now
    return ntohs(address.sin_port);
}

}  // namespace

TEST(DownloadText, ChunkedBodyComesBackWholeAndInOrder)
{
    const std::string big(70000, 'x');
    ChunkedServer server({"{\"major\":3,", big, "\"minor\":2}"});
    const std::string body = downloadText("http://127.0.0.1:" + std::to_string(server.port()) + "/version");
    EXPECT_EQ(body, "{\"major\":3," + big + "\"minor\":2}");
}

TEST(DownloadText, RefusedPortGivesEmptyText)
{
    EXPECT_EQ(downloadText("http://127.0.0.1:" + std::to_string(unusedLoopbackPort()) + "/"), "");
    EXPECT_EQ(downloadText("not a url"), "");
}
