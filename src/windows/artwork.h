#pragma once
// The program's pictures, drawn here rather than shipped as files: the
// program and tray icon, the toolbar's icons, the tree's item icons with
// their overlay marks, the file list's two icons, the splash picture and the
// file list's background tile. Where the desktop's icon theme has a
// standard icon for a command it is used, with ours as the fallback.

#include "windows/commands.h"

#include <QIcon>
#include <QImage>
#include <QPixmap>

namespace ormbrook {

enum class TreeIcon { Root, Folder, Record, File };

// Marks over an item's icon; several may be combined.
enum TreeMark : unsigned {
    MarkNone = 0,
    MarkForbidden = 1,  // the item is not crawled (巡回禁止)
    MarkSelected = 2,   // the item is crawled by "選択巡回実行"
    MarkTimer = 4,      // a timer crawls the item
    MarkSlideShow = 8,  // the item's pictures are in the slide show
};

namespace artwork {

QIcon ProgramIcon();
QIcon TrayIcon();
QIcon CommandIconFor(CommandIcon icon);
QIcon TreeItemIcon(TreeIcon kind, unsigned marks);
// The file list's icons: a file stored completely, and one that is not.
QIcon FileIcon(bool complete);
// The timer list's kind icons: Monthly, Weekly, Daily, Interval (1..4).
QIcon TimerKindIcon(int kind);
QImage SplashImage();
QPixmap ListBackgroundTile();

} // namespace artwork

} // namespace ormbrook
