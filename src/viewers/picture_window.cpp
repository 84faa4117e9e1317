#include "viewers/picture_window.h"

#include "viewers/viewer_core.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace ormbrook {

PictureWindow::PictureWindow(ViewerCore& core, Kind kind, QWidget* parent)
    : QWidget(parent), core_(core), kind_(kind)
{
    // Every pixel comes from the shown frame: nothing to erase first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    if (kind_ != Kind::Passive)
        setCursor(Qt::CrossCursor);
    if (kind_ == Kind::Saver)
        setFocusPolicy(Qt::StrongFocus);
    core_.Attach(this);
}

void PictureWindow::CloseWindow()
{
    closing_ = true;
    close();
}

void PictureWindow::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    core_.PaintShown(painter, event->rect());
}

void PictureWindow::resizeEvent(QResizeEvent* event)
{
    core_.SetClientSize(event->size());
    QWidget::resizeEvent(event);
}

void PictureWindow::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (kind_ == Kind::Slide && event->button() == Qt::LeftButton)
        Q_EMIT doubleClicked();
    else if (kind_ == Kind::Saver)
        mousePressEvent(event);
}

void PictureWindow::mousePressEvent(QMouseEvent* event)
{
    if (kind_ != Kind::Saver)
        return;
    if (event->button() == Qt::RightButton)
        Q_EMIT rightClicked();
    else if (event->button() == Qt::LeftButton || event->button() == Qt::MiddleButton)
        Q_EMIT endRequested();
}

void PictureWindow::keyPressEvent(QKeyEvent* event)
{
    if (kind_ == Kind::Saver)
        Q_EMIT endRequested();
    else
        QWidget::keyPressEvent(event);
}

void PictureWindow::closeEvent(QCloseEvent* event)
{
    // The window system's close request does not end the saver; a key does.
    if (kind_ == Kind::Saver && !closing_ && event->spontaneous()) {
        event->ignore();
        return;
    }
    core_.Abort();
    event->accept();
    Q_EMIT closed();
}

} // namespace ormbrook
