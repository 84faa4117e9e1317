#pragma once
// qry --delete-saved / --copy-saved / --move-saved: a saved-data job run
// from the command line, with the progress display and exit statuses of
// --crawl.

#include "shell/command_line.h"

#include <cstdio>

namespace ormbrook {

// "データを削除してよろしいですか？"
extern const char kDeleteQuestion[];

// Asks the question on out and reads the answer from in: true for "y" or
// "yes" (any case).
bool ConfirmDelete(std::FILE* in, std::FILE* out);

// Needs a QCoreApplication.
int RunHeadlessSavedData(const CommandLine& line);

} // namespace ormbrook
