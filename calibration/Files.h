// Files that are replaced whole or not at all, for the records and luxora's settings.
#pragma once

#include <optional>
#include <string>

#include <sys/types.h>

namespace calibration {

// Makes the folder and any missing parents with the mode. Throws std::runtime_error naming the folder.
void MakeFolders(const std::string &folder, mode_t mode);

// Writes contents to a temporary file in the same folder, flushes it to the disk and renames it over path,
// so that a reader sees the old file or the new one, never a part. Throws std::runtime_error naming path;
// the old file is then untouched and the temporary one removed.
void WriteFileAtomically(const std::string &path, const std::string &contents, mode_t mode);

// The file's bytes; nullopt when it does not exist. Throws std::runtime_error when it exists but cannot be read.
std::optional<std::string> ReadFileIfAny(const std::string &path);

} // namespace calibration
