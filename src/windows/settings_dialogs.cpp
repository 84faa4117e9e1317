#include "windows/settings_dialogs.h"

namespace ormbrook {

// The dialogs come with the next step; until then the commands do nothing.
bool EditSettings(DesktopContext&, QWidget*)
{
    return false;
}

bool ShowTimerList(DesktopContext&, QWidget*)
{
    return false;
}

bool ShowSlideShowList(DesktopContext&, QWidget*)
{
    return false;
}

} // namespace ormbrook
