#pragma once
// The dialogs behind the settings commands: the settings sheet "Ormbrook
// Property", the timer list "タイマーの一覧" and the slide-show list
// "スライドショウ一覧". Each returns whether it changed what it shows.

class QWidget;

namespace ormbrook {

struct DesktopContext;

bool EditSettings(DesktopContext& context, QWidget* parent);
bool ShowTimerList(DesktopContext& context, QWidget* parent);
bool ShowSlideShowList(DesktopContext& context, QWidget* parent);

} // namespace ormbrook
