#pragma once
// Whole-file reads and all-or-nothing saves for the application's list files
// (timers, slide show).

#include <string>
#include <string_view>

namespace ormbrook {

// Reads the whole file into 'bytes'; a missing file is created empty and reads
// as nothing. False when the file can neither be read nor created.
bool ReadOrCreateListFile(const std::string& path, std::string& bytes);

// Replaces the file with 'bytes' through a temporary file and a rename, so a
// failed save leaves the previous list intact. False when nothing was saved.
bool SaveListFile(const std::string& path, std::string_view bytes);

} // namespace ormbrook
