#include "pictures/receiver_links.h"

#include "common/messages.h"
#include "platform/program_channel.h"

#include <QCoreApplication>
#include <QProcess>

#include <csignal>

namespace ormbrook {

namespace {

const char* TitleOf(ReceiverLinks::Program program)
{
    return program == ReceiverLinks::Saver ? kSaverWindowTitle : kSlideWindowTitle;
}

} // namespace

ChannelReceiverLinks::ChannelReceiverLinks(std::string slideWindowProgram)
    : program_(std::move(slideWindowProgram)), environment_(QProcessEnvironment::systemEnvironment())
{
}

bool ChannelReceiverLinks::Exists(Program program)
{
    return ChannelExists(TitleOf(program));
}

std::optional<ReceiverLinks::Delivery> ChannelReceiverLinks::NotifyNewPicture(Program program, uint32_t mainWindow)
{
    HeldReply held = SendFrameAndHold(TitleOf(program), {MsgViewerCommand, kViewerCmdNewPicture, mainWindow, {}},
                                      kNotifyTimeoutMs);
    if (!held.reply)
        return std::nullopt;
    return Delivery {*held.reply, held.fd};
}

void ChannelReceiverLinks::CloseSlideWindow()
{
    SendFrame(kSlideWindowTitle, {MsgClose, 0, 0, {}}, 1000);
    started_ = 0;
}

bool ChannelReceiverLinks::StartSlideWindow()
{
    QString program = QString::fromStdString(program_);
    if (program.isEmpty())
        program = QCoreApplication::applicationDirPath() + "/qrysw";
    QProcess process;
    process.setProgram(program);
    process.setProcessEnvironment(environment_);
    process.setStandardInputFile(QProcess::nullDevice());
    qint64 pid = 0;
    if (!process.startDetached(&pid))
        return false;
    started_ = pid_t(pid);
    startedAt_ = std::chrono::steady_clock::now();
    return true;
}

bool ChannelReceiverLinks::SlideWindowStarting()
{
    if (started_ <= 0)
        return false;
    if (ChannelExists(kSlideWindowTitle) || ::kill(started_, 0) != 0
        || std::chrono::steady_clock::now() - startedAt_ > std::chrono::milliseconds(kSlideStartMs)) {
        started_ = 0;
        return false;
    }
    return true;
}

} // namespace ormbrook
