// URL canonicalisation speed: CUrl::Parse + url() against QUrl in strict mode
// turned back into text, over the same deterministic corpus in one run.
#include "common/url.h"

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

namespace {

// Realistic addresses as found in pages: mixed-case schemes and hosts,
// ports, nested paths with dot and empty segments, escapes (present and
// needed), queries and fragments.
std::vector<std::string> MakeCorpus(size_t count)
{
    static const char* const kSchemes[] = {"http://", "http://", "http://", "HTTP://", "Http://"};
    static const char* const kHosts[] = {"www.example.com", "Images.Example.ORG", "a-b.example.net",
        "192.168.0.10", "ftp2.mirror.example.jp", "WWW.EXAMPLE.CO.JP", "localhost", "cdn-3.static.example.com"};
    static const char* const kPorts[] = {":8080", ":80", ":3128", ":"};
    static const char* const kWords[] = {"index", "images", "2024", "blog", "archive", "~user", "Photos",
        "my%20pics", "%7Eshared", "a b", "dir.d", "cgi-bin", "news", "data_2", "%E3%81%82", "caf\xc3\xa9",
        "x+y", "item(1)", "wiki", "Main_Page"};
    static const char* const kDots[] = {"./", "../", "/", "./../"};
    static const char* const kFiles[] = {"index.html", "page.htm", "photo.JPG", "banner.gif", "view.cgi",
        "readme.txt", "style.css", "", "pic%201.jpeg", "default.shtml"};
    static const char* const kQueries[] = {"?id=123", "?q=caf%C3%A9&lang=ja", "?a=1&b=2/3", "?page=2#comments",
        "?s=hello world", "?x=%41%42"};
    static const char* const kFragments[] = {"#top", "#section-2", "#a/b", "#"};

    std::mt19937 random(42);
    auto pick = [&random](const auto& list) { return list[random() % std::size(list)]; };
    std::vector<std::string> corpus;
    corpus.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        std::string url = pick(kSchemes);
        url += pick(kHosts);
        if (random() % 6 == 0)
            url += pick(kPorts);
        url += '/';
        const int depth = static_cast<int>(random() % 5);
        for (int d = 0; d < depth; ++d) {
            url += pick(kWords);
            url += '/';
            if (random() % 8 == 0)
                url += pick(kDots);
        }
        url += pick(kFiles);
        if (random() % 4 == 0)
            url += pick(kQueries);
        else if (random() % 8 == 0)
            url += pick(kFragments);
        corpus.push_back(std::move(url));
    }
    return corpus;
}

const std::vector<std::string>& Corpus()
{
    static const std::vector<std::string> corpus = MakeCorpus(20000);
    return corpus;
}

void BM_CUrlCanonical(benchmark::State& state)
{
    const std::vector<std::string>& corpus = Corpus();
    ormbrook::CUrl url;
    size_t parsed = 0;
    for (auto _ : state) {
        for (const std::string& text : corpus) {
            if (url.Parse(text))
                ++parsed;
            benchmark::DoNotOptimize(url.url().data());
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * corpus.size()));
    state.counters["parsed"] = static_cast<double>(parsed) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_CUrlCanonical)->Unit(benchmark::kMillisecond);

// The texts are handed to QUrl as ready QStrings, so that it doesn't pay for
// the conversion from bytes.
void RunQUrl(benchmark::State& state, QUrl::FormattingOptions options)
{
    std::vector<QString> corpus;
    for (const std::string& text : Corpus())
        corpus.push_back(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    size_t valid = 0;
    for (auto _ : state) {
        for (const QString& text : corpus) {
            const QUrl url(text, QUrl::StrictMode);
            const QByteArray encoded = url.toEncoded(options);
            if (url.isValid())
                ++valid;
            benchmark::DoNotOptimize(encoded.data());
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * corpus.size()));
    state.counters["parsed"] = static_cast<double>(valid) / static_cast<double>(state.iterations());
}

void BM_QUrlStrictToEncoded(benchmark::State& state) { RunQUrl(state, QUrl::FormattingOptions(QUrl::FullyEncoded)); }
BENCHMARK(BM_QUrlStrictToEncoded)->Unit(benchmark::kMillisecond);

// QUrl doing the dot-segment work as well, which CUrl always does.
void BM_QUrlStrictNormalized(benchmark::State& state) { RunQUrl(state, QUrl::FormattingOptions(QUrl::NormalizePathSegments) | QUrl::FullyEncoded); }
BENCHMARK(BM_QUrlStrictNormalized)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
