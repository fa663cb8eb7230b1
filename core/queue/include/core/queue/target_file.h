// Where a download is written: the target path built from the item's save
// location and URL, the existing-file policy applied to it, and the file
// opened through the engine's disk operations. The answer to the engine's
// "about to open the file" notice.
//
// Policies (ExistFile): 0 write over an existing file; 1 fail the item when
// a file is there (a folder of that name is no clash); 2 write the download
// under another name made from the OtherName template; 3 move the existing
// file aside to a name made from the Renane template, then write the freed
// path. The move never replaces a file: when the new name is taken too, the
// item fails and both files stay as they were.
//
// A path another download of the queue writes (running, or resting with its
// partial file) is never written by a second one: under policy 1 the item
// fails with kTargetBusy; under every other policy it takes the other name,
// numbered "name(1).ext", "name(2).ext", ... while that is taken too.
//
// The policy is for a fresh start only. A resumed download goes on in its
// own file (open_resumed_file), which is never "an existing file" to it.
//
// Runs on the thread that raised the notice (an engine thread, or the
// caller of dl_start/dl_resume) with the core's lock held.
#pragma once

#include <functional>
#include <string>

#include "core/settings/settings.h"
#include "core/system/clock.h"
#include "core/system/engine_binding.h"
#include "torvane/torvane.h"

namespace torvane {

inline constexpr int kExistOverwrite = 0;
inline constexpr int kExistFail = 1;
inline constexpr int kExistOtherName = 2;
inline constexpr int kExistRenameOld = 3;

// open_target_file's result when policy 1 met a path another download writes.
inline constexpr int kTargetBusy = -2;

// True when another download of the queue writes `path`.
using PathInUse = std::function<bool(const std::string& path)>;

// 0 the download may go on (the file is open in record->disk, or for a
// policy outside 0..3 left for the engine to open), -1 the item fails,
// kTargetBusy the item fails because another download writes its path.
// A record that already has `path` open keeps it (a redirect to a URL of
// the same name). `chosen`, when given, receives the path opened (or left
// for the engine) on success, and the path in use with kTargetBusy.
int open_target_file(ItemData* record, const EngineApi& api, const ProgramSettings& settings,
                     const Clock& clock, const PathInUse& in_use = {},
                     std::string* chosen = nullptr);

// The file a record's URL names in its save folder (the engine's rule), or
// "" when the record has neither or the name cannot be built.
std::string record_file_name(const ItemData* record, const EngineApi& api);

// Opens `path` for a resumed download as it is: no policy, no truncation.
// 0, or -1 when it cannot be opened.
int open_resumed_file(ItemData* record, const EngineApi& api, const std::string& path);

}  // namespace torvane
