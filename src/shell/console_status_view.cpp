#include "shell/console_status_view.h"

#include "common/messages.h"
#include "common/printable.h"
#include "crawl/download_manager.h"
#include "engine/download_records.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace ormbrook {

namespace {

constexpr int kRedrawTimer = 1;
constexpr int kRedrawMs = 200;

std::string Fit(const std::string& text, size_t width)
{
    if (text.size() <= width)
        return text + std::string(width - text.size(), ' ');
    if (width <= 3)
        return text.substr(0, width);
    return text.substr(0, width - 3) + "...";
}

int TerminalWidth(std::FILE* out)
{
    winsize size{};
    if (::ioctl(::fileno(out), TIOCGWINSZ, &size) == 0 && size.ws_col > 20)
        return size.ws_col;
    return 100;
}

} // namespace

ConsoleStatusView::ConsoleStatusView(std::FILE* out, bool live, QObject* parent)
    : MessageTarget(parent), out_(out), live_(live)
{
    // Live: the table is redrawn on this beat. Otherwise the finished URLs
    // go out as lines, flushed on this beat rather than one write per line.
    SetTimer(kRedrawTimer, kRedrawMs);
}

std::string ConsoleStatusView::RenderTable(const StatusViewModel& model, int width)
{
    // slot | url | size | bytes | percent
    const size_t numbers = 12 + 12 + 8;
    const size_t urlWidth = width > static_cast<int>(numbers + 10) ? static_cast<size_t>(width) - numbers - 4 : 20;
    std::string text;
    for (int i = 0; i < model.rows(); ++i) {
        const StatusRow& row = model.row(i);
        text += (i < model.slotRows() ? std::to_string(i + 1) : std::string("*")) + " ";
        text += Fit(row.url, urlWidth) + " ";
        text += Fit(row.size, 11) + " " + Fit(row.bytes, 11) + " " + Fit(row.percent, 7);
        text += "\n";
    }
    const StatusCounters& c = model.counters();
    text += "detected " + std::to_string(c.detected) + "  retries " + std::to_string(c.retries) + "  visited "
        + std::to_string(c.visited) + "  failed " + std::to_string(c.failed) + "  html "
        + std::to_string(c.htmlDetected) + "  localised " + std::to_string(c.htmlModified) + " ("
        + std::to_string(c.localizePercent) + "%)\n";
    if (!model.stopReason().empty())
        text += "stopped: " + model.stopReason() + "\n";
    return text;
}

void ConsoleStatusView::Redraw()
{
    std::string text;
    if (drawnLines_ > 0)
        text += "\x1b[" + std::to_string(drawnLines_) + "F";
    const std::string table = RenderTable(model_, TerminalWidth(out_));
    size_t start = 0;
    int lines = 0;
    while (start < table.size()) {
        size_t end = table.find('\n', start);
        text += "\x1b[2K" + table.substr(start, end - start) + "\n";
        start = end + 1;
        ++lines;
    }
    drawnLines_ = lines;
    std::fputs(text.c_str(), out_);
    std::fflush(out_);
    dirty_ = false;
}

void ConsoleStatusView::OnTimer(int id)
{
    if (id != kRedrawTimer)
        return;
    if (live_ && dirty_)
        Redraw();
    if (!live_ && unflushed_) {
        std::fflush(out_);
        unflushed_ = false;
    }
}

void ConsoleStatusView::PrintSummary()
{
    if (live_)
        Redraw();
    std::fprintf(out_, "%s%s\n", prefix_.c_str(), model_.CounterLine().c_str());
    std::fflush(out_);
    unflushed_ = false;
}

void ConsoleStatusView::OnMessage(uint32_t message, uintptr_t wParam, std::unique_ptr<MessageRecord> record)
{
    MessageRecord* r = record.get();
    dirty_ = true;
    if (model_.CountMessage(message, wParam))
        return;
    switch (message) {
    case MsgStatusClear:
        model_.Clear();
        break;
    case MsgStatusCurrentUrl:
        if (auto* text = dynamic_cast<TextRecord*>(r))
            model_.SetCurrentUrl(text->text);
        break;
    case MsgStatusContacting:
        if (auto* slot = dynamic_cast<SlotUrlRecord*>(r))
            model_.Contacting(slot->slot, slot->url);
        break;
    case MsgStatusConnected:
        if (auto* slot = dynamic_cast<SlotRecord*>(r))
            model_.Connected(slot->slot);
        break;
    case MsgStatusHeadRead:
        if (auto* slot = dynamic_cast<SlotLengthRecord*>(r))
            model_.HeadRead(slot->slot, slot->contentLength);
        break;
    case MsgStatusProgress:
        if (auto* slot = dynamic_cast<SlotProgressRecord*>(r))
            model_.Progress(slot->slot, slot->contentLength, slot->bytes);
        break;
    case MsgStatusSlotDone:
        if (auto* slot = dynamic_cast<SlotDoneRecord*>(r)) {
            model_.SlotDone(slot->slot, slot->success, slot->reason, slot->cause);
            if (!live_ && slot->slot >= 0 && slot->slot < model_.slotRows()) {
                const std::string why = PrintableText(slot->cause.empty() ? slot->reason : slot->cause);
                std::fprintf(out_, "%s%s %s%s%s%s\n", prefix_.c_str(), slot->success ? "Complete" : "Failed",
                             model_.row(slot->slot).url.c_str(), why.empty() ? "" : " (", why.c_str(),
                             why.empty() ? "" : ")");
                unflushed_ = true;
            }
        }
        break;
    case MsgStatusStoppedByError:
        if (auto* text = dynamic_cast<TextRecord*>(r)) {
            model_.StoppedByError(text->text);
            // At once, and where errors go: the counters follow when the
            // stop is complete.
            std::fprintf(stderr, "qry: %sstopped: %s; once that is mended, running it again resumes\n",
                         prefix_.c_str(), model_.stopReason().c_str());
        }
        break;
    case MsgStatusCannotCrawl:
        if (auto* text = dynamic_cast<TextRecord*>(r)) {
            model_.AddNote(text->text);
            std::fprintf(stderr, "qry: %s%s\n", prefix_.c_str(), PrintableText(text->text).c_str());
        }
        break;
    case MsgStatusManager:
        if (auto* manager = dynamic_cast<ManagerRecord*>(r)) {
            model_.SetSlotCount(manager->slots);
            if (onManager)
                onManager(manager->manager);
        }
        break;
    case MsgStatusCrawlOver:
        if (onCrawlOver)
            onCrawlOver();
        break;
    default:
        break;
    }
}

} // namespace ormbrook
