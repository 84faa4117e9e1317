#pragma once
// The status view of a headless crawl: it receives the same messages as a
// project window's status view and prints them. On a terminal it keeps a
// live table of the five slots and the counters, redrawn in place;
// otherwise it writes one line per finished URL. Either way the last line
// it writes is the counter line.

#include "engine/status_view_model.h"
#include "platform/message_target.h"

#include <cstdio>
#include <functional>

namespace ormbrook {

class ConsoleStatusView : public MessageTarget {
public:
    ConsoleStatusView(std::FILE* out, bool live, QObject* parent = nullptr);

    // The engine made the manager of the crawl (MsgStatusManager).
    std::function<void(const QPointer<QObject>& manager)> onManager;
    // The crawl is over (MsgStatusCrawlOver).
    std::function<void()> onCrawlOver;

    const StatusViewModel& model() const { return model_; }
    // Writes the final counter line (after the live table, if any).
    void PrintSummary();
    // Put before every line written outside the live table, so that the
    // lines of crawls running side by side can be told apart.
    void SetLinePrefix(std::string prefix) { prefix_ = std::move(prefix); }

    // The live table as text, for a terminal of the given width.
    static std::string RenderTable(const StatusViewModel& model, int width);

protected:
    void OnMessage(uint32_t message, uintptr_t wParam, std::unique_ptr<MessageRecord> record) override;
    void OnTimer(int id) override;

private:
    void Redraw();

    std::FILE* out_;
    bool live_;
    bool unflushed_ = false;
    bool dirty_ = false;
    int drawnLines_ = 0;
    std::string prefix_;
    StatusViewModel model_;
};

} // namespace ormbrook
