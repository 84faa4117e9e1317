#pragma once
// A real nginx serving a directory on a free port of 127.0.0.1, for the
// end-to-end tests. Its configuration, logs and temporary files live in a
// folder of its own that is removed when the server stops.

#include <string>

namespace ormbrook::test {

// A free port of 127.0.0.1 (of ::1 with ipv6) at the time of asking.
int FreeLoopbackPort(bool ipv6 = false);
// Whether something accepts connections on that port of 127.0.0.1 (::1).
bool AcceptsOnLoopback(int port, bool ipv6 = false);

class NginxServer {
public:
    struct Options {
        std::string root;                    // directory served as the site root
        bool ifModifiedSinceBefore = false;  // "if_modified_since before;" (answer 304 for older dates too)
        bool etag = true;                    // send ETag (nginx's default); false: "etag off;"
        std::string extraServerConfig;       // lines added inside the server block (locations, returns);
                                             // "@PORT@" in them becomes port()
        // With a certificate and its key the server speaks TLS on port();
        // with plainToo it serves the same site over http on plainPort().
        std::string tlsCertificate;
        std::string tlsKey;
        bool plainToo = false;
        // "keepalive_timeout" (0: every connection closes after its answer).
        std::string keepaliveTimeout = "0";
        // Lines added to the http block (gzip, keepalive_requests, ...).
        std::string extraHttpConfig;
        // Listen on [::1] only, not on 127.0.0.1.
        bool ipv6Only = false;
        // With TLS: offer HTTP/2 by ALPN.
        bool http2 = false;
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
    int plainPort() const { return plainPort_; }
    // "http://127.0.0.1:<port>", or "https://..." for a TLS server
    std::string origin() const;
    // "http://127.0.0.1:<plainPort>"
    std::string plainOrigin() const;
    // For a TLS server: one line per request, "$ssl_session_reused
    // $ssl_server_name $request" ("r" when the handshake resumed a session,
    // else "."; the name the client sent, "-" for none).
    std::string TlsLog() const;
    const std::string& lastError() const { return lastError_; }
    // The access log so far (one line per request, "$status $request").
    std::string AccessLog() const;
    // One line per request: "$connection $connection_requests
    // $sent_http_transfer_encoding $sent_http_content_encoding $http2
    // $status $request" (the connection's serial number, the request's
    // number on it, "chunked" or "-", "gzip" or "-", "h2" or "").
    std::string ConnectionLog() const;

    static bool Available();

private:
    int pid_ = -1;
    int port_ = 0;
    int plainPort_ = 0;
    bool tls_ = false;
    bool ipv6_ = false;
    std::string dir_;
    std::string lastError_;
};

} // namespace ormbrook::test
