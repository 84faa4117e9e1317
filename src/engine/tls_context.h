#pragma once
// TLS for the engine's own non-blocking sockets, through OpenSSL.
//
// One client context serves every connection of the process: TLS 1.2 or
// later, the system's trust store as OpenSSL finds it by default (so
// SSL_CERT_FILE and SSL_CERT_DIR point it elsewhere), the server's name
// checked against its certificate. Sessions are kept per server, so that the
// five slots of a crawl that all talk to one host pay one full handshake and
// resume the rest.
//
// The record layer reads and writes through SysCalls, like the plain
// sockets, so that the tests' fault knobs reach TLS connections too.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_session_st SSL_SESSION;

namespace ormbrook {

// Errors of the TLS layer, in the socket layer's numbering: past the
// Winsock range and past WsaUnmapped + errno, so that none is taken for a
// network error the engine acts on.
constexpr int WsaTlsFailed = 13001;      // the handshake or a record failed
constexpr int WsaTlsCertificate = 13002; // the server's certificate was not accepted
constexpr int WsaTlsUnavailable = 13003; // no TLS context (OpenSSL refused to make one)

class CTlsContext;

// What a secured connection is to be: the server named in the URL, and
// whether its certificate must verify.
struct TlsTarget {
    std::string serverName; // the URL's host: sent as SNI and checked against the certificate
    uint16_t port = 443;    // with serverName, the key of the kept session
    bool verify = true;     // false: an unverified certificate is accepted
    std::string tunnel;     // "host:port" to ask a proxy to CONNECT to; empty when direct
    CTlsContext* context = nullptr; // null: CTlsContext::Default()
    bool offerH2 = false;   // ALPN offers h2 before http/1.1 (nothing is offered otherwise)
};

class CTlsContext {
public:
    // caFile: a bundle of trusted authorities to use instead of the system's
    // store; empty: OpenSSL's defaults (SSL_CERT_FILE, SSL_CERT_DIR).
    explicit CTlsContext(const std::string& caFile = {});
    ~CTlsContext();
    CTlsContext(const CTlsContext&) = delete;
    CTlsContext& operator=(const CTlsContext&) = delete;

    // The process's context, made on first use; null when OpenSSL could not
    // make one.
    static CTlsContext* Default();

    bool usable() const { return ctx_ != nullptr; }

    // A new client connection over fd for the target, with the server's
    // kept session offered for resumption. Null on failure.
    SSL* NewConnection(int fd, const TlsTarget& target);
    // Frees a connection; one whose handshake was completed (established)
    // leaves its session resumable.
    static void FreeConnection(SSL* ssl, bool established);

    // Handshakes completed, and how many of them resumed a kept session.
    uint64_t handshakes() const { return handshakes_; }
    uint64_t resumed() const { return resumed_; }
    void CountHandshake(SSL* ssl);
    // Drops every kept session.
    void ForgetSessions();

    // The text a failed handshake is shown with: "certificate: <reason>"
    // when verification refused the server, else "TLS: <reason>".
    // certificateFailed tells which.
    static std::string FailureText(SSL* ssl, bool verify, int sslError, bool* certificateFailed);

private:
    static int OnNewSession(SSL* ssl, SSL_SESSION* session);

    SSL_CTX* ctx_ = nullptr;
    std::mutex lock_; // the engine thread is the only user; tests may make another
    std::map<std::string, SSL_SESSION*> sessions_;
    uint64_t handshakes_ = 0;
    uint64_t resumed_ = 0;
};

} // namespace ormbrook
