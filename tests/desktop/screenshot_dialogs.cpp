// The dialogs the screenshots show, opened without running their own loop.

#include "windows/child_frame.h"
#include "windows/desktop_program.h"
#include "windows/small_dialogs.h"

#include <functional>

using namespace ormbrook;

void SaveDialogs(DesktopProgram&, CChildFrame& child, const std::function<void(QWidget*, const char*)>& save)
{
    AddItemDialog add(&child);
    add.setText(QStringLiteral("http://www.example.com/"));
    save(&add, "dialog_add_item");
    MirrorFilesDialog files(&child);
    save(&files, "dialog_mirror_files");
}
