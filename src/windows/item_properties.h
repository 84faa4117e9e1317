#pragma once
// "アイテムのプロパティ": the item's own options, its timer and its slide-show
// entry, on four pages. True when OK stored something.

class QWidget;

namespace ormbrook {

class ProjectItem;
class ProjectSession;
struct DesktopContext;

bool EditItemProperties(DesktopContext& context, ProjectSession& session, ProjectItem& item, QWidget* parent);

} // namespace ormbrook
