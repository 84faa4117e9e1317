#pragma once
// Message numbers that cross threads and processes. They keep the numbers of
// the desktop system this program first ran on (WM_USER = 0x0400), so that
// records, traces and the frames exchanged between programs stay comparable.

#include <cstdint>

namespace ormbrook {

constexpr uint32_t WM_USER = 0x0400;

// Socket layer event window.
constexpr uint32_t MsgLookupDone = WM_USER + 1;    // lookup completion
constexpr uint32_t MsgSocketEvent = WM_USER + 6;   // socket event

// Dial-up manager.
constexpr uint32_t MsgDialupReply = WM_USER + 10;  // to a download manager: 0x2000 up, 0x2001 down
constexpr uint32_t MsgDialupRedial = 0x409;        // dial-up manager to itself
constexpr uint32_t MsgDialupNotify = 0x40A;        // DialupNotify(state, error)

// Status view protocol.
constexpr uint32_t MsgStatusClear = WM_USER + 14;
constexpr uint32_t MsgStatusCurrentUrl = WM_USER + 15;
constexpr uint32_t MsgStatusContacting = WM_USER + 16;
constexpr uint32_t MsgStatusConnected = WM_USER + 17;
constexpr uint32_t MsgStatusHeadRead = WM_USER + 18;
constexpr uint32_t MsgStatusProgress = WM_USER + 19;
constexpr uint32_t MsgStatusSlotDone = WM_USER + 20;
constexpr uint32_t MsgStatusDetected = WM_USER + 21;
constexpr uint32_t MsgStatusRetry = WM_USER + 22;
constexpr uint32_t MsgStatusVisited = WM_USER + 23;
constexpr uint32_t MsgStatusFailed = WM_USER + 24;
constexpr uint32_t MsgStatusHtmlDetected = WM_USER + 25;
constexpr uint32_t MsgStatusHtmlModified = WM_USER + 26;
constexpr uint32_t MsgStatusManager = WM_USER + 27;
constexpr uint32_t MsgStatusCrawlOver = WM_USER + 28;

// Engine thread and download manager.
constexpr uint32_t MsgEngineCreateManager = WM_USER + 30;
constexpr uint32_t MsgEngineQuit = WM_USER + 31;
constexpr uint32_t MsgManagerStart = WM_USER + 32;
constexpr uint32_t MsgManagerStop = WM_USER + 33;
constexpr uint32_t MsgManagerDispatch = WM_USER + 34;
constexpr uint32_t MsgManagerRobotsDone = WM_USER + 35;
constexpr uint32_t MsgManagerPageDone = WM_USER + 37;
constexpr uint32_t MsgManagerSlotEnded = WM_USER + 38;
constexpr uint32_t MsgManagerLocalize = WM_USER + 39;
constexpr uint32_t MsgManagerSavedDataJob = WM_USER + 41;
constexpr uint32_t MsgManagerDeleteVisit = WM_USER + 42;
constexpr uint32_t MsgManagerDeleteAct = WM_USER + 43;
constexpr uint32_t MsgManagerCopyVisit = WM_USER + 44;
constexpr uint32_t MsgManagerCopyAct = WM_USER + 45;

// Between programs: the main window's channel. A frame with the top bit set
// carries text after it (see platform/program_channel.h).
constexpr uint32_t MsgClose = 0x0010;                          // WM_CLOSE: close the program, as its close box does
constexpr uint32_t MsgOpenDocument = 0x80000000u | (WM_USER + 0x70); // text: a project file to open;
                                                               // empty: just show the main window

// Between the main program and its picture receivers (the slide window, the
// screen saver, the desktop). The "new picture" notification and the start
// and stop of the desktop display reuse the null message with a command code
// in wParam; a window handle in lParam is the sending program's process id.
constexpr uint32_t MsgViewerCommand = 0;
constexpr uint32_t kViewerCmdStart = 1;
constexpr uint32_t kViewerCmdStop = 2;
constexpr uint32_t kViewerCmdNewPicture = 3;
constexpr uint32_t MsgViewerStarted = WM_USER + 1;    // saver -> main: lParam the saver
constexpr uint32_t MsgSaverEnded = WM_USER + 2;       // saver -> main
constexpr uint32_t MsgDesktopStopped = WM_USER + 3;   // desktop display -> main
constexpr uint32_t MsgPictureShown = WM_USER + 4;     // receiver -> main: lParam the receiver
constexpr uint32_t MsgOpenPicturePanel = WM_USER + 5; // viewer -> main
// A picture a crawl in another process of the user stored: the frame carries
// its pickup record as text (see pictures/pickup_entry.h).
constexpr uint32_t MsgOfferPicture = WM_USER + 50;

// The titles by which the programs find each other's windows, and the name
// of the shared block that carries a picture.
constexpr const char* kMainProgramTitle = "Ormbrook Download Engine";
constexpr const char* kSlideWindowTitle = "Ormbrook Slide Window";
constexpr const char* kSaverWindowTitle = "Ormbrook Screen Saver";
constexpr const char* kPictureBlockName = "Ormbrook Memory Mapped File";

// Transfer results shared by the download object, the manager and the crawl.
enum TransferResult : int16_t {
    TransferAborted = 1,
    TransferComplete = 2,
    TransferFailed = 3,
};

} // namespace ormbrook
