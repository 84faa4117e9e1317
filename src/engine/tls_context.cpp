#include "engine/tls_context.h"

#include "platform/sys_calls.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <cstring>
#include <new>

namespace ormbrook {

namespace {

// What a connection carries for the session callback.
struct ConnectionData {
    CTlsContext* context;
    std::string sessionKey;
};

int SysCallsFd(BIO* bio) { return int(reinterpret_cast<intptr_t>(BIO_get_data(bio))); }

bool WouldBlock(ssize_t r) { return r == -EAGAIN || r == -EWOULDBLOCK || r == -EINTR || r == -EINPROGRESS; }

int BioWrite(BIO* bio, const char* data, int length)
{
    BIO_clear_retry_flags(bio);
    const ssize_t r = SysCalls::Current().Send(SysCallsFd(bio), data, size_t(length));
    if (r >= 0)
        return int(r);
    if (WouldBlock(r))
        BIO_set_retry_write(bio);
    errno = int(-r);
    return -1;
}

int BioRead(BIO* bio, char* data, int length)
{
    BIO_clear_retry_flags(bio);
    const ssize_t r = SysCalls::Current().Recv(SysCallsFd(bio), data, size_t(length));
    if (r >= 0)
        return int(r);
    if (WouldBlock(r))
        BIO_set_retry_read(bio);
    errno = int(-r);
    return -1;
}

int BioPuts(BIO* bio, const char* text) { return BioWrite(bio, text, int(std::strlen(text))); }

long BioCtrl(BIO*, int command, long, void*)
{
    // Nothing is buffered here: a flush has nothing to do. Every other
    // question (kTLS, peeking, pending bytes) is answered "no".
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

int BioCreate(BIO* bio)
{
    BIO_set_init(bio, 1);
    return 1;
}

// The socket BIO's work, done through SysCalls.
BIO_METHOD* SysCallsBioMethod()
{
    static BIO_METHOD* method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "ormbrook socket");
        if (m) {
            BIO_meth_set_write(m, BioWrite);
            BIO_meth_set_read(m, BioRead);
            BIO_meth_set_puts(m, BioPuts);
            BIO_meth_set_ctrl(m, BioCtrl);
            BIO_meth_set_create(m, BioCreate);
        }
        return m;
    }();
    return method;
}

bool IsAddressLiteral(const std::string& host)
{
    in_addr v4;
    in6_addr v6;
    return ::inet_pton(AF_INET, host.c_str(), &v4) == 1 || ::inet_pton(AF_INET6, host.c_str(), &v6) == 1;
}

} // namespace

CTlsContext::CTlsContext(const std::string& caFile)
{
    ctx_ = SSL_CTX_new(TLS_client_method());
    if (!ctx_)
        return;
    SSL_CTX_set_min_proto_version(ctx_, TLS1_2_VERSION);
    // A server that closes without close_notify is not taken at its word
    // that the body is complete: the socket reports it as a reset (see
    // CWSSocket::TlsReceive), so a body cut short keeps the stored copy.
    SSL_CTX_set_options(ctx_, SSL_OP_NO_RENEGOTIATION);
    // A send that stopped short is taken up again from the send queue,
    // whose pointer moves on.
    SSL_CTX_set_mode(ctx_, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    const bool trusted = caFile.empty() ? SSL_CTX_set_default_verify_paths(ctx_) == 1
                                        : SSL_CTX_load_verify_locations(ctx_, caFile.c_str(), nullptr) == 1;
    (void)trusted; // without a store every verified handshake fails, with its reason
    SSL_CTX_set_verify(ctx_, SSL_VERIFY_PEER, nullptr);
    // Sessions are kept here, by server, not in OpenSSL's cache keyed by
    // session id, which a client can't look up by server.
    SSL_CTX_set_session_cache_mode(ctx_, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_sess_set_new_cb(ctx_, &CTlsContext::OnNewSession);
    ERR_clear_error();
}

CTlsContext::~CTlsContext()
{
    ForgetSessions();
    if (ctx_)
        SSL_CTX_free(ctx_);
}

CTlsContext* CTlsContext::Default()
{
    // Made after OpenSSL's own start-up, so freed before its clean-up at exit.
    static CTlsContext context;
    return context.usable() ? &context : nullptr;
}

SSL* CTlsContext::NewConnection(int fd, const TlsTarget& target)
{
    if (!ctx_ || !SysCallsBioMethod())
        return nullptr;
    SSL* ssl = SSL_new(ctx_);
    if (!ssl)
        return nullptr;
    BIO* bio = BIO_new(SysCallsBioMethod());
    if (!bio) {
        SSL_free(ssl);
        return nullptr;
    }
    BIO_set_data(bio, reinterpret_cast<void*>(intptr_t(fd)));
    SSL_set_bio(ssl, bio, bio);
    SSL_set_connect_state(ssl);

    const std::string& name = target.serverName;
    const bool literal = IsAddressLiteral(name);
    bool ok = true;
    if (!literal) // no SNI for an address
        ok = SSL_set_tlsext_host_name(ssl, name.c_str()) == 1;
    if (ok && target.verify) {
        X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
        // The name must be in subjectAltName, as browsers require: a
        // certificate that has it only in the subject's CN is refused.
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS
                                                   | X509_CHECK_FLAG_NEVER_CHECK_SUBJECT);
        ok = literal ? X509_VERIFY_PARAM_set1_ip_asc(param, name.c_str()) == 1
                     : X509_VERIFY_PARAM_set1_host(param, name.c_str(), name.size()) == 1;
    }
    if (!target.verify)
        SSL_set_verify(ssl, SSL_VERIFY_NONE, nullptr);
    if (ok && target.offerH2) {
        static const unsigned char kProtocols[] = "\x02h2\x08http/1.1";
        ok = SSL_set_alpn_protos(ssl, kProtocols, sizeof kProtocols - 1) == 0;
    }

    auto* data = new (std::nothrow) ConnectionData{this, {}};
    if (!ok || !data) {
        delete data;
        SSL_free(ssl);
        ERR_clear_error();
        return nullptr;
    }
    // A session made without verification is never offered to a
    // connection that verifies.
    data->sessionKey = name + ":" + std::to_string(target.port) + (target.verify ? "" : " unverified");
    SSL_set_app_data(ssl, data);
    std::lock_guard<std::mutex> guard(lock_);
    if (auto it = sessions_.find(data->sessionKey); it != sessions_.end()) {
        // A copy: a connection that ends with an alert marks its session
        // as not resumable, which must not reach the one kept here.
        if (SSL_SESSION* copy = SSL_SESSION_dup(it->second)) {
            SSL_set_session(ssl, copy);
            SSL_SESSION_free(copy);
        }
    }
    return ssl;
}

void CTlsContext::FreeConnection(SSL* ssl, bool established)
{
    if (!ssl)
        return;
    delete static_cast<ConnectionData*>(SSL_get_app_data(ssl));
    SSL_set_app_data(ssl, nullptr);
    // OpenSSL marks the session of a connection freed without a shutdown as
    // not resumable. HTTP/1.0 ends at the server's close, so the end is
    // normal: say so, without sending anything.
    if (established)
        SSL_set_shutdown(ssl, SSL_SENT_SHUTDOWN | SSL_RECEIVED_SHUTDOWN);
    SSL_free(ssl);
    ERR_clear_error();
}

int CTlsContext::OnNewSession(SSL* ssl, SSL_SESSION* session)
{
    auto* data = static_cast<ConnectionData*>(SSL_get_app_data(ssl));
    if (!data || !data->context)
        return 0;
    CTlsContext& self = *data->context;
    std::lock_guard<std::mutex> guard(self.lock_);
    // Kept as a copy, out of reach of what befalls the connection.
    SSL_SESSION* copy = SSL_SESSION_dup(session);
    if (!copy)
        return 0;
    SSL_SESSION*& kept = self.sessions_[data->sessionKey];
    if (kept)
        SSL_SESSION_free(kept);
    kept = copy;
    return 0; // the connection keeps its own reference
}

void CTlsContext::CountHandshake(SSL* ssl)
{
    std::lock_guard<std::mutex> guard(lock_);
    ++handshakes_;
    if (SSL_session_reused(ssl))
        ++resumed_;
}

void CTlsContext::ForgetSessions()
{
    std::lock_guard<std::mutex> guard(lock_);
    for (auto& [key, session] : sessions_)
        SSL_SESSION_free(session);
    sessions_.clear();
}

std::string CTlsContext::FailureText(SSL* ssl, bool verify, int sslError, bool* certificateFailed)
{
    if (certificateFailed)
        *certificateFailed = false;
    if (ssl && verify) {
        const long result = SSL_get_verify_result(ssl);
        if (result != X509_V_OK) {
            if (certificateFailed)
                *certificateFailed = true;
            return std::string("certificate: ") + X509_verify_cert_error_string(result);
        }
    }
    if (const unsigned long e = ERR_peek_last_error()) {
        const char* reason = ERR_reason_error_string(e);
        ERR_clear_error();
        return std::string("TLS: ") + (reason ? reason : "handshake failed");
    }
    if (sslError == SSL_ERROR_SYSCALL || sslError == SSL_ERROR_ZERO_RETURN)
        return "TLS: connection closed during the handshake";
    return "TLS: handshake failed";
}

} // namespace ormbrook
