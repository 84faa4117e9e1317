#include "windows/item_properties.h"

namespace ormbrook {

// The sheet comes with the next step; until then the command does nothing.
bool EditItemProperties(DesktopContext&, ProjectSession&, ProjectItem&, QWidget*)
{
    return false;
}

} // namespace ormbrook
