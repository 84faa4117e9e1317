#pragma once
// End-to-end crawl fixture: a site generated into a temporary folder, served
// by nginx on loopback, a project file, and qry run as its own process with
// a private settings store and mirror. Tests declare the pages, the project
// and the settings, then look at the mirror and at what nginx was asked.

#include "support/nginx_server.h"

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace ormbrook::test {

struct QryRun {
    int exitCode = -1;
    std::string out;
    std::string err;
    // The counter line that ends standard output.
    std::string counters;
};

class CrawlFixture {
public:
    CrawlFixture();
    ~CrawlFixture();

    // Writes a file of the site (path relative to the site root). Its
    // modification time is a fixed day in the past, so that no date a crawl
    // takes can coincide with it by chance; `changedNow` dates it now.
    void Page(const std::string& path, const std::string& body, bool changedNow = false);
    // Sets the modification time of a file of the site (seconds since 1970).
    void Date(const std::string& path, int64_t time);
    bool StartServer(bool ifModifiedSinceBefore = false, const std::string& extraConfig = {}, bool etag = true);
    // Any server over the fixture's site (its root is set here).
    bool StartServer(NginxServer::Options options);
    // The same site over TLS with this certificate (and over plain http as
    // well when plainToo is set).
    bool StartTlsServer(const std::string& certificate, const std::string& key, bool plainToo = false,
                        const std::string& extraConfig = {});
    // An environment variable for every qry this fixture runs.
    void SetEnvironment(const std::string& name, const std::string& value) { env_[name] = value; }
    const NginxServer& server() const { return server_; }

    // "http://127.0.0.1:<port>" ("https://..." for a TLS server)
    std::string origin() const { return server_.origin(); }
    // The plain http origin of a TLS server started with plainToo.
    std::string plainOrigin() const { return server_.plainOrigin(); }
    int port() const { return server_.port(); }
    // The origin with the port dropped, as the mirror names the host.
    std::string host() const { return "127.0.0.1"; }

    // Writes the project file "<name>.prj" with the text, where every
    // "@ORIGIN@" becomes the server's origin (and "@PLAIN@" its plain one).
    std::string Project(const std::string& name, std::string text);

    // Runs qry with the arguments (after "qry"); the mirror root and any
    // --set lines come from settings.
    QryRun Run(const std::vector<std::string>& args, const std::map<std::string, std::string>& settings = {});
    // Starts qry and sends SIGINT after the server has answered `requests`
    // requests; returns when qry has ended.
    QryRun RunAndInterrupt(const std::vector<std::string>& args, const std::map<std::string, std::string>& settings,
                           int requests);
    // Starts qry and sends SIGINT once `when` holds for its standard output
    // so far (asked every few milliseconds); returns when qry has ended.
    QryRun RunAndInterruptWhen(const std::vector<std::string>& args, const std::map<std::string, std::string>& settings,
                               const std::function<bool(const std::string& out)>& when);

    const std::string& mirrorRoot() const { return mirror_; }
    // Every file below the mirror root, relative to it, without the queue files.
    std::set<std::string> MirrorFiles() const;
    std::string MirrorFile(const std::string& relative) const;
    // The request lines nginx logged, "$status $request".
    std::vector<std::string> Requests() const;
    int CountRequests(const std::string& requestLineStart) const;

    const std::string& siteRoot() const { return site_; }
    // The XDG_DATA_HOME qry runs with; its program folder is "Ormbrook" below.
    std::string dataHome() const { return dir_ + "/data"; }

private:
    std::vector<std::string> Command(const std::vector<std::string>& args,
                                     const std::map<std::string, std::string>& settings) const;

    std::string dir_;
    std::string site_;
    std::string mirror_;
    std::map<std::string, std::string> env_;
    NginxServer server_;
};

std::string QryPath();

// A Record block of a project file for the URL, with option lines.
inline std::string Record(const std::string& url, const std::string& options = {})
{
    return "Record\n{\n\tURL=\"" + url + "\"\n" + options + "}\n";
}

// The names with a common prefix, as mirror paths are compared.
inline std::set<std::string> Prefixed(const std::string& prefix, const std::set<std::string>& names)
{
    std::set<std::string> out;
    for (const auto& n : names)
        out.insert(prefix + n);
    return out;
}

} // namespace ormbrook::test
