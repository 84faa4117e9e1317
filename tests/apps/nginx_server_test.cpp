#include "support/nginx_server.h"

#include <QTcpSocket>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

using ormbrook::test::NginxServer;

namespace {

std::string Fetch(int port, const std::string& request)
{
    QTcpSocket socket;
    socket.connectToHost("127.0.0.1", static_cast<quint16>(port));
    if (!socket.waitForConnected(3000))
        return {};
    socket.write(request.data(), static_cast<qint64>(request.size()));
    socket.waitForBytesWritten(3000);
    std::string reply;
    while (socket.waitForReadyRead(3000))
        reply += socket.readAll().toStdString();
    reply += socket.readAll().toStdString();
    return reply;
}

} // namespace

// The fixture the end-to-end tests stand on: it must serve files, answer a
// directory without "/" with nginx's own 301, and stop cleanly.
TEST(NginxServer, ServesFilesAndRedirectsDirectories)
{
    if (!NginxServer::Available())
        GTEST_SKIP() << "nginx not installed";
    auto root = std::filesystem::temp_directory_path() / "ormbrook-nginx-site";
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(root / "dir");
    std::ofstream(root / "index.html") << "<a href=dir/>x</a>";
    std::ofstream(root / "dir" / "index.html") << "inner";

    NginxServer server;
    NginxServer::Options options;
    options.root = root.string();
    ASSERT_TRUE(server.Start(options)) << server.lastError();
    std::string page = Fetch(server.port(), "GET /index.html HTTP/1.0\r\n\r\n");
    EXPECT_NE(page.find("200 OK"), std::string::npos);
    EXPECT_NE(page.find("<a href=dir/>x</a>"), std::string::npos);
    std::string dir = Fetch(server.port(), "GET /dir HTTP/1.0\r\nHOST:127.0.0.1\r\n\r\n");
    EXPECT_NE(dir.find("301"), std::string::npos);
    EXPECT_NE(server.AccessLog().find("301 GET /dir HTTP/1.0"), std::string::npos);
    server.Stop();
    std::filesystem::remove_all(root);
}
