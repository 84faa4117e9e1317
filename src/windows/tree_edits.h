#pragma once
// What the project tree's commands do to a project, apart from any window:
// adding, renaming, moving and deleting items, and where an item's saved
// files go when it moves.

#include <string>
#include <string_view>

namespace ormbrook {

class CMirror;
class CSSDoc;
class CTimerDoc;
class ProjectItem;

enum class NewItemKind { Folder, Url };

// Adds a folder named by the text, or a URL item for the text parsed and
// normalised, as the last child of `parent` (a folder or the root). Nothing
// when the text is empty or is not a URL.
ProjectItem* AddChildItem(ProjectItem& parent, NewItemKind kind, std::string_view text);

// The label rules of the tree: the root keeps its name; a folder takes the
// text; a URL item takes it only when it parses as a URL (stored
// canonical). False when nothing changed.
bool RenameItem(ProjectItem& item, std::string_view text);

// Whether `item` may be dropped on `target`: a folder or the root that is
// neither the item, nor below it, nor its present parent.
bool CanDrop(const ProjectItem& item, const ProjectItem& target);

// Where the saved files of `item` belong once it lives under `target`: the
// folder directory the job copies or moves them into.
std::string MovedFilesDestination(const CMirror& mirror, const ProjectItem& item, const ProjectItem& target);

// Removes the timers and slide-show entries of the item and of everything
// below it - and of nothing else: a sibling whose name merely begins with
// the item's name keeps its entries.
void RemoveItemSchedules(CTimerDoc& timers, CSSDoc& slides, const std::string& projectPath, const ProjectItem& item);

} // namespace ormbrook
