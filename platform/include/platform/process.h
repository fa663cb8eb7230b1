// Process-level stand-ins: loading a shared library at run time and looking
// up its exports, the path of the running program, whether a stream is a
// terminal, and turning an interrupt (Ctrl-C) or a termination request into
// a flag the main loop polls.
#pragma once

#include <string>

namespace torvane::platform {

using LibraryHandle = void*;

// Loads a shared library by path (with a '/') or by name (the loader's own
// search, including the program's run path). nullptr on failure; the reason
// is in `error` when given.
LibraryHandle library_open(const char* path_or_name, std::string* error = nullptr);

// The address of `name` in the library, or nullptr.
void* library_symbol(LibraryHandle library, const char* name);

// Unloads; nullptr is allowed.
void library_close(LibraryHandle library);

// Absolute path of the running program file, or "" when unknown.
std::string program_file_path();

// True when standard output / standard error is a terminal.
bool stdout_is_terminal();
bool stderr_is_terminal();
// The width of the terminal on standard error in columns; 0 when unknown.
int stderr_columns();

// Installs handlers for SIGINT and SIGTERM that only record the signal, and
// ignores SIGPIPE. interrupt_signal() returns the signal number received
// first (2 for Ctrl-C), or 0. Safe to call once at start-up.
void catch_interrupts();
int interrupt_signal();

// The environment value of `name`, or nullptr.
const char* environment(const char* name);

// True when `path` is a folder the program may create files in.
bool folder_writable(const char* path);

}  // namespace torvane::platform
