#pragma once
// A throw-away certificate authority for the TLS tests, made with the
// `openssl` command in a temporary folder that goes with the object. Its
// certificate is what the tests trust (through a CA file, or SSL_CERT_FILE
// for a qry process); the server certificates it issues are what nginx
// presents.

#include <string>
#include <vector>

namespace ormbrook::test {

struct IssuedCertificate {
    std::string certificate; // PEM file
    std::string key;         // PEM file
};

class TestAuthority {
public:
    TestAuthority();
    ~TestAuthority();
    TestAuthority(const TestAuthority&) = delete;
    TestAuthority& operator=(const TestAuthority&) = delete;

    static bool Available(); // the openssl command is there
    bool ok() const { return ok_; }
    const std::string& lastError() const { return lastError_; }

    // The authority's own certificate: the file a client trusts.
    std::string caFile() const { return dir_ + "/ca.pem"; }

    // A server certificate for the names ("127.0.0.1" becomes an IP entry,
    // anything else a DNS entry). expired: valid in the first days of 2020
    // only. selfSigned: signed by its own key, not by this authority.
    // commonNameOnly: the first name in the subject's CN, no subjectAltName.
    IssuedCertificate Issue(const std::string& fileName, const std::vector<std::string>& names,
                            bool expired = false, bool selfSigned = false, bool commonNameOnly = false);

private:
    bool Run(const std::string& command);

    std::string dir_;
    bool ok_ = false;
    std::string lastError_;
};

// A forward proxy (Debian's tinyproxy) on a free port of 127.0.0.1, that
// lets CONNECT through to the ports given (every port when none is).
class TinyProxy {
public:
    TinyProxy() = default;
    ~TinyProxy();
    TinyProxy(const TinyProxy&) = delete;
    TinyProxy& operator=(const TinyProxy&) = delete;

    static bool Available();
    bool Start(const std::vector<int>& connectPorts = {});
    void Stop();
    int port() const { return port_; }
    const std::string& lastError() const { return lastError_; }
    // The proxy's log so far (its CONNECT lines among them).
    std::string Log() const;

private:
    int pid_ = -1;
    int port_ = 0;
    std::string dir_;
    std::string lastError_;
};

} // namespace ormbrook::test
