#pragma once
// A real nginx serving a directory on a free port of 127.0.0.1, for the
// end-to-end tests. Its configuration, logs and temporary files live in a
// folder of its own that is removed when the server stops.

#include <string>

namespace ormbrook::test {

class NginxServer {
public:
    struct Options {
        std::string root;                    // directory served as the site root
        bool ifModifiedSinceBefore = false;  // "if_modified_since before;" (answer 304 for older dates too)
        bool etag = true;                    // send ETag (nginx's default); false: "etag off;"
        std::string extraServerConfig;       // lines added inside the server block (locations, returns)
    };

    NginxServer() = default;
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;
    ~NginxServer();

    // Starts nginx and waits until it accepts connections. False (with
    // lastError()) when nginx is missing or would not start.
    bool Start(const Options& options);
    void Stop();

    int port() const { return port_; }
    // "http://127.0.0.1:<port>"
    std::string origin() const;
    const std::string& lastError() const { return lastError_; }
    // The access log so far (one line per request, "$status $request").
    std::string AccessLog() const;

    static bool Available();

private:
    int pid_ = -1;
    int port_ = 0;
    std::string dir_;
    std::string lastError_;
};

} // namespace ormbrook::test
