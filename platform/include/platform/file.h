// File-system stand-ins: open without truncation, positional writes, path
// kinds, folder creation, deletion, a move that never replaces its target, and
// whole-file reads and atomic replacement. Nothing else in the tree calls the
// POSIX file interfaces directly.
//
// Handles are never 0: 0 means "no file open" everywhere in the engine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace torvane::platform {

using FileHandle = std::intptr_t;

// Opens `path` for writing, creating it when missing and keeping the bytes of
// an existing file. Returns 0 on failure (the reason is in last_error_text()).
// `created`, when given, is set to true only when this call made the file.
FileHandle file_open_write(const char* path, bool* created = nullptr);

// Closes a handle from file_open_write. Returns 0, or -1 when close failed.
int file_close(FileHandle handle);

// True when the open file is a regular file of 0 bytes.
bool file_is_empty_regular(FileHandle handle);

// True when `path` names the very file that `handle` has open (not a file
// put in its place since, nor nothing).
bool path_names_file(const char* path, FileHandle handle);

// True when two handles are open on the same file.
bool same_file(FileHandle a, FileHandle b);

// Size of the open file in bytes, or -1.
std::int64_t file_size(FileHandle handle);

// Cuts a regular file to `size` bytes (anything else is left alone). 0 or -1.
int file_truncate(FileHandle handle, std::uint64_t size);

// Writes all `size` bytes at absolute `offset` (the file grows as needed).
// Result: 0 written, kDiskFull when the device has no room, -1 any other
// failure. `written` receives the bytes that did reach the file.
constexpr int kDiskFull = -2;
int file_write_at(FileHandle handle, const void* data, std::size_t size, std::uint64_t offset,
                  std::size_t* written);

// 0 nothing at that path, 1 a file (or anything that is not a folder), 2 a folder.
int path_kind(const char* path);

// Creates one folder (mode 0755). 0 or -1.
int make_folder(const char* path);
// Makes every missing folder before the last '/' of `path`: the folders a
// file at `path` needs, or the folder itself when `path` ends in '/'. 0 when
// they all stand now; kFileInTheWay when a part of the path is a file; -1
// when a folder could not be made (last_error_text() says why). `part`, when
// given, receives the part that stopped it.
inline constexpr int kFileInTheWay = 1;
int make_parent_folders(const char* path, std::string* part = nullptr);

// Deletes a file. 0 or -1.
int remove_file(const char* path);

// Renames `from` to `to` but fails (-1) when `to` exists, like the move the
// program was designed around. 0 on success.
int move_no_replace(const char* from, const char* to);

// Reads a whole file into `out`. false when it cannot be opened or read.
bool read_whole_file(const char* path, std::string& out);

// Replaces `path` with `data` through a temporary file in the same folder that
// is renamed over it, so a crash leaves either the old or the new file whole.
// The file keeps its permissions. With `synced` the data reaches the disk
// before the rename (it then survives a power cut too, at the price of a wait
// that can reach a good part of a second while other files are written fast).
// 0 or -1.
int write_file_atomic(const char* path, const void* data, std::size_t size, bool synced = true);

// The system's text for the last failed call on this thread (errno).
std::string last_error_text();

}  // namespace torvane::platform
