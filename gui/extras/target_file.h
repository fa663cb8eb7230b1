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
// Runs on the thread that raised the notice (an engine thread, or the
// caller of dl_start/dl_resume) with the core's lock held.
#pragma once

#include "gui/extras/clock.h"
#include "gui/shell/engine_binding.h"
#include "gui/shell/settings.h"
#include "torvane/torvane.h"

namespace torvane {

inline constexpr int kExistOverwrite = 0;
inline constexpr int kExistFail = 1;
inline constexpr int kExistOtherName = 2;
inline constexpr int kExistRenameOld = 3;

// 0 the download may go on (the file is open in record->disk, or for a
// policy outside 0..3 left for the engine to open), -1 the item fails.
int open_target_file(ItemData* record, const EngineApi& api, const ProgramSettings& settings,
                     const Clock& clock);

}  // namespace torvane
