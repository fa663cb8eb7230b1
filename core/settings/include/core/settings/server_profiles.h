// Server profiles: the index "Servers.ini" (section "ServerData") that maps a
// host or a domain to a profile file, the default profile behind them, and
// the file work of the Servers and Edit Server data dialogs, so that those
// dialogs only draw and call these functions.
//
// Every path is the program folder joined with a stored relative name; a
// stored '\' is read as '/'. Files are read afresh on every call (nothing is
// cached, so an edit applies to the next lookup). Any thread may look up; the
// editing functions belong to the GUI thread.
//
// No listing, value or section text here has a size limit: names, rows and
// values are read and written whole, so nothing is cut on the way through
// the editor.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/settings/ini_access.h"

namespace torvane {

inline constexpr std::string_view kServerIndexFile = "Servers.ini";
inline constexpr std::string_view kServerIndexSection = "ServerData";
inline constexpr std::string_view kProfileSection = "TVNBASICDATA";
inline constexpr std::string_view kDefaultProfileName = "default";
inline constexpr std::string_view kDefaultProfileFile = "Servers/default.ini";
inline constexpr std::string_view kNewProfileName = "NewServer";
inline constexpr std::string_view kNewProfileFile = "Servers/newsv.ini";

// Full path of the profile of the URL's host: the host's own entry, else its
// domain's (the last two labels; never a middle level). None when the URL
// has no host (no '/' after it) or neither key is listed.
std::optional<std::string> find_server_profile(const ProgramFolder& folder, std::string_view url);

// Full path of the default profile: the "default" entry, else
// "Servers/default.ini". The file need not exist.
std::string default_server_profile(const ProgramFolder& folder);

// The Servers list: "default" first, then every key of "ServerData" in file
// order.
std::vector<std::string> list_server_profiles(const ProgramFolder& folder);

// The stored relative file of `name` ('\' read as '/'), or none. For
// "default" without an entry: "Servers/default.ini".
std::optional<std::string> server_profile_file(const ProgramFolder& folder, std::string_view name);

struct ProfileRow {
  std::string key;
  std::string value;
};

// The rows of a profile in the editor's order (DataType, URL, Proxy, Div,
// SAVE, BufferSize, Referrer or else AutoReferrer, IgnoreRedirection,
// IgnoreClientError, IgnoreServerError, AutoResume, Retry, urljump only when
// 1, skip, FileSize, Host, Cookie, SpeedMode), present keys only, integers in
// decimal. `file` receives the stored relative file name. -1 when the name has
// no file (the editor then closes), else 0.
int read_server_profile(const ProgramFolder& folder, std::string_view name,
                        std::vector<ProfileRow>& rows, std::string& file);

// Whether the editor can store a row: the key is an INI key (not empty, no
// '=', not opening with '[' or a comment mark) and neither holds a line
// break or a NUL. The editors check as the user types.
bool profile_row_allowed(std::string_view key, std::string_view value);
// Whether a profile can be stored under `name` (an INI key) in `file` (a
// relative name of a file: not empty, not ending in '/' or '\' as a folder's
// does, no line break or NUL).
bool profile_target_allowed(std::string_view name, std::string_view file);

// Saves the editor: the profile section of `file` is replaced by the rows in
// order (the file and its folder are created as needed), and unless `file`
// is the default file, "ServerData" gets name = file. Nothing is written when
// the name, the file or a row cannot be stored (see above); then -1.
// Otherwise 0, or -1 when a write failed.
int write_server_profile(const ProgramFolder& folder, std::string_view name, std::string_view file,
                         const std::vector<ProfileRow>& rows);

// The editor's result after a successful save (1 renamed, 2 new or renamed
// new, 0 unchanged); `current_name` takes the edited name when it differs.
int finish_profile_edit(std::string& current_name, std::string_view edited_name, bool is_new);

// After the editor returned `result` (1 or 2): moves the "ServerData" entry of
// the old name (`selected` for 1, "NewServer" for 2) to `new_name`, keeping
// its file. 0 moved, -1 no entry for the old name (nothing changes) or a
// failed write.
int rename_server_entry(const ProgramFolder& folder, int result, std::string_view selected,
                        std::string_view new_name);

// Removes `name` from "ServerData" (the entry named exactly so) and deletes
// the file it listed. "default" without an entry deletes nothing. 0, or -1
// when the name had no entry.
int delete_server_profile(const ProgramFolder& folder, std::string_view name);

}  // namespace torvane
