// The collect pass over about 24 MB of generated HTML, against libxml2's HTML
// parser pulling the same link attributes out of the same bytes. Both sides
// see every page once per iteration; the best pass of each, in CPU time of
// the running thread (the machine is shared), gives the MB/s printed at the
// end, and their ratio.
#include "crawl/html_scanner.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#ifdef ORMBROOK_HAVE_LIBXML2
#include <libxml/HTMLparser.h>
#include <libxml/tree.h>
#endif

using namespace ormbrook;

namespace {

// A small deterministic generator, so every run scans the same bytes.
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}
    uint32_t Next()
    {
        state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>(state_ >> 33);
    }
    uint32_t Below(uint32_t n) { return Next() % n; }

private:
    uint64_t state_;
};

const char* const kWords[] = {"crawl", "mirror", "picture", "garden", "river", "station", "window", "paper",
                              "morning", "letter", "公園", "写真", "ニュース", "archive", "summer", "index"};

std::string Word(Random& r)
{
    return kWords[r.Below(sizeof kWords / sizeof kWords[0])];
}

std::string Quoted(Random& r, const std::string& value)
{
    switch (r.Below(3)) {
    case 0: return "\"" + value + "\"";
    case 1: return "'" + value + "'";
    default: return value;
    }
}

std::string LinkTarget(Random& r)
{
    switch (r.Below(6)) {
    case 0: return "/" + Word(r) + "/" + Word(r) + ".html";
    case 1: return "../" + Word(r) + "/p" + std::to_string(r.Below(1000)) + ".htm";
    case 2: return "http://www" + std::to_string(r.Below(50)) + ".example.com/" + Word(r) + "/";
    case 3: return Word(r) + ".html?id=" + std::to_string(r.Below(100000)) + "&amp;s=" + Word(r);
    case 4: return "#" + Word(r);
    default: return "p" + std::to_string(r.Below(500)) + ".html";
    }
}

void Text(Random& r, std::string& out, int words)
{
    for (int i = 0; i < words; ++i) {
        out += Word(r);
        out += (r.Below(12) == 0) ? ".\n" : " ";
    }
    if (r.Below(4) == 0)
        out += "&nbsp;&copy; ";
}

void Block(Random& r, std::string& out, int depth)
{
    const int children = 2 + static_cast<int>(r.Below(5));
    for (int i = 0; i < children; ++i) {
        switch (r.Below(10)) {
        case 0:
        case 1:
            if (depth < 6) {
                out += "<div class=" + Quoted(r, "c" + std::to_string(r.Below(30))) + " id=\"d" +
                       std::to_string(r.Below(100000)) + "\">\n";
                Block(r, out, depth + 1);
                out += "</div>\n";
                break;
            }
            [[fallthrough]];
        case 2:
            out += "<p style=\"margin: 0 1em\">";
            Text(r, out, 8 + static_cast<int>(r.Below(30)));
            out += "<a href=" + Quoted(r, LinkTarget(r)) + " title=\"" + Word(r) + " " + Word(r) + "\">";
            Text(r, out, 2);
            out += "</a>";
            Text(r, out, 5);
            out += "</p>\n";
            break;
        case 3:
            out += "<img src=" + Quoted(r, "img/" + Word(r) + std::to_string(r.Below(900)) + ".jpg") +
                   " width=" + std::to_string(r.Below(800)) + " height=\"" + std::to_string(r.Below(600)) +
                   "\" alt='" + Word(r) + "'>\n";
            break;
        case 4:
            out += "<!-- " + Word(r) + " <a href=old.html> " + Word(r) + " -->\n";
            break;
        case 5:
            out += "<ul>\n";
            for (uint32_t k = 0, n = 3 + r.Below(8); k < n; ++k)
                out += "  <li><a href=" + Quoted(r, LinkTarget(r)) + ">" + Word(r) + "</a></li>\n";
            out += "</ul>\n";
            break;
        case 6:
            out += "<table border=1 cellpadding=\"2\">\n";
            for (uint32_t row = 0, n = 2 + r.Below(5); row < n; ++row) {
                out += "<tr>";
                for (int col = 0; col < 4; ++col) {
                    out += "<td>";
                    Text(r, out, 3);
                    out += "</td>";
                }
                out += "</tr>\n";
            }
            out += "</table>\n";
            break;
        case 7:
            out += "<script type=\"text/javascript\">\nvar n = " + std::to_string(r.Below(100)) +
                   ";\nfor (var i = 0; i < n; i++) { total += i; }\n"
                   "function show(u) { window.open(u, 'w'); }\n</script>\n";
            break;
        case 8:
            out += "<map name=m" + std::to_string(r.Below(10)) + "><area shape=rect coords=\"0,0,10,10\" href=" +
                   Quoted(r, LinkTarget(r)) + "></map><img src=" + Quoted(r, "map.gif") + " usemap=#m ismap>\n";
            break;
        default:
            out += "<h2>";
            Text(r, out, 4);
            out += "</h2>\n";
            break;
        }
    }
}

std::string Page(Random& r, int sections)
{
    std::string out = "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\">\n<html>\n<head>\n";
    out += "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-8\">\n";
    out += "<meta name=\"keywords\" content=\"" + Word(r) + "," + Word(r) + "\">\n";
    out += "<title>" + Word(r) + " " + Word(r) + "</title>\n";
    out += "<style type=\"text/css\">\nbody { color: #333; } a:hover { color: red; }\n</style>\n</head>\n";
    out += "<body background=" + Quoted(r, "bg/" + Word(r) + ".gif") + " bgcolor=\"#ffffff\">\n";
    for (int i = 0; i < sections; ++i)
        Block(r, out, 0);
    out += "</body>\n</html>\n";
    return out;
}

struct Corpus {
    std::vector<std::string> pages;
    size_t bytes = 0;
};

const Corpus& TheCorpus()
{
    static const Corpus corpus = [] {
        Corpus c;
        Random r(20261209);
        while (c.bytes < 24u * 1024 * 1024) {
            // Mostly ordinary pages, some long ones.
            const int sections = r.Below(10) == 0 ? 400 : 20 + static_cast<int>(r.Below(60));
            c.pages.push_back(Page(r, sections));
            c.bytes += c.pages.back().size();
        }
        return c;
    }();
    return corpus;
}

double bestCollect = 0;
double bestLibxml2 = 0;
size_t linksCollect = 0;
size_t linksLibxml2 = 0;

double CpuSeconds()
{
    struct timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

void Record(double& best, double seconds, size_t bytes)
{
    best = std::max(best, bytes / (1024.0 * 1024.0) / seconds);
}

void BM_CollectPass(benchmark::State& state)
{
    const Corpus& corpus = TheCorpus();
    CHtmlScanner scanner;
    std::vector<LinkRef> links;
    std::optional<std::string> title;
    for (auto _ : state) {
        const double begin = CpuSeconds();
        size_t count = 0;
        for (const std::string& page : corpus.pages) {
            links.clear();
            scanner.CollectLinksFromBytes("http://www.example.com/dir/page.html", page, links, title);
            count += links.size();
        }
        Record(bestCollect, CpuSeconds() - begin, corpus.bytes);
        linksCollect = count;
        benchmark::DoNotOptimize(count);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * corpus.bytes));
}
BENCHMARK(BM_CollectPass)->Unit(benchmark::kMillisecond)->MinTime(3.0);

#ifdef ORMBROOK_HAVE_LIBXML2
bool IsTag(const xmlNode* node, const char* name)
{
    return xmlStrcasecmp(node->name, reinterpret_cast<const xmlChar*>(name)) == 0;
}

void TakeAttribute(xmlNode* node, const char* name, size_t& count)
{
    if (xmlChar* value = xmlGetProp(node, reinterpret_cast<const xmlChar*>(name))) {
        ++count;
        xmlFree(value);
    }
}

void Walk(xmlNode* node, size_t& count)
{
    for (; node; node = node->next) {
        if (node->type == XML_ELEMENT_NODE) {
            if (IsTag(node, "a") || IsTag(node, "area")) {
                TakeAttribute(node, "href", count);
            } else if (IsTag(node, "img")) {
                TakeAttribute(node, "src", count);
                TakeAttribute(node, "usemap", count);
            } else if (IsTag(node, "frame")) {
                TakeAttribute(node, "src", count);
            } else if (IsTag(node, "body")) {
                TakeAttribute(node, "background", count);
            }
        }
        Walk(node->children, count);
    }
}

void BM_Libxml2HtmlParser(benchmark::State& state)
{
    const Corpus& corpus = TheCorpus();
    for (auto _ : state) {
        const double begin = CpuSeconds();
        size_t count = 0;
        for (const std::string& page : corpus.pages) {
            htmlDocPtr doc = htmlReadMemory(page.data(), static_cast<int>(page.size()),
                                            "http://www.example.com/dir/page.html", "UTF-8",
                                            HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET);
            if (doc) {
                Walk(xmlDocGetRootElement(doc), count);
                xmlFreeDoc(doc);
            }
        }
        Record(bestLibxml2, CpuSeconds() - begin, corpus.bytes);
        linksLibxml2 = count;
        benchmark::DoNotOptimize(count);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * corpus.bytes));
}
BENCHMARK(BM_Libxml2HtmlParser)->Unit(benchmark::kMillisecond)->MinTime(3.0);
#endif

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    const Corpus& corpus = TheCorpus();
    std::printf("corpus: %zu pages, %.1f MB\n", corpus.pages.size(), corpus.bytes / (1024.0 * 1024.0));
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::printf("collect pass: %.1f MB/s (%zu links, resolved)\n", bestCollect, linksCollect);
#ifdef ORMBROOK_HAVE_LIBXML2
    std::printf("libxml2 HTML parser: %.1f MB/s (%zu link attributes)\n", bestLibxml2, linksLibxml2);
    if (bestLibxml2 > 0)
        std::printf("ratio: %.2f x\n", bestCollect / bestLibxml2);
#endif
    return 0;
}
