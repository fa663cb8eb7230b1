#include "core/queue/target_file.h"

#include <string>

#include "core/queue/slot_record.h"
#include "core/text/name_template.h"
#include "platform/file.h"

namespace torvane {

namespace {

constexpr int kNothingThere = 0;  // DiskIO_CheckFile: 0 nothing, 1 a file, 2 a folder
constexpr int kFileThere = 1;
constexpr int kMaxNumberedName = 9999;

const char* template_of(const std::optional<std::string>& text) {
  return text ? text->c_str() : nullptr;
}

bool taken_by_another(const PathInUse& in_use, const std::string& path) {
  return in_use && in_use(path);
}

// "dir/name(n).ext": the number goes before the extension of the file name,
// or at its end when the name has none.
std::string numbered(const std::string& path, int n) {
  const std::size_t slash = path.rfind('/');
  const std::size_t name = slash == std::string::npos ? 0 : slash + 1;
  std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || dot <= name) dot = path.size();
  return path.substr(0, dot) + "(" + std::to_string(n) + ")" + path.substr(dot);
}

// The OtherName template applied to `path`. The templated name is not tested
// against the disk: a second clash in the same minute writes over the
// earlier other-named file, as the template names it the same. A name that
// another download writes is never taken, though; the first free numbered
// form of it is. 0, or -1 (template error, or no free number).
int take_other_name(std::string& path, const ProgramSettings& settings, const Clock& clock,
                    const PathInUse& in_use, const EngineApi& api) {
  if (apply_name_template(path, template_of(settings.other_name), settings.on_ignore_err == 1,
                          clock) != 0) {
    return -1;
  }
  if (!taken_by_another(in_use, path)) return 0;
  for (int n = 1; n <= kMaxNumberedName; ++n) {
    std::string candidate = numbered(path, n);
    if (!taken_by_another(in_use, candidate) &&
        api.DiskIO_CheckFile(candidate.c_str()) == kNothingThere) {
      path = std::move(candidate);
      return 0;
    }
  }
  return -1;
}

}  // namespace

std::string record_file_name(const ItemData* record, const EngineApi& api) {
  if (record == nullptr || record->url == nullptr || record->save_path == nullptr ||
      api.DiskIO_MakeFileName == nullptr) {
    return {};
  }
  char built[TVN_PATH_CAPACITY] = {};
  if (api.DiskIO_MakeFileName(record->save_path, record->url, built) != 0) return {};
  return built;
}

namespace {

// The policy's step for a file of that name on the disk: 0 when `path` (may
// be renamed) is to be opened, -1 when the open fails, kEngineOpens for a
// policy this step does not know, whose file the engine opens itself.
constexpr int kEngineOpens = 1;
int existing_file_step(std::string& path, const ProgramSettings& settings, const Clock& clock,
                       const PathInUse& in_use, const EngineApi& api) {
  const bool there = api.DiskIO_CheckFile(path.c_str()) == kFileThere;
  switch (settings.exist_file) {
    case kExistOverwrite:
      return 0;
    case kExistFail:
      return there ? -1 : 0;
    case kExistOtherName:
      return there && take_other_name(path, settings, clock, in_use, api) != 0 ? -1 : 0;
    case kExistRenameOld: {
      if (!there) return 0;
      std::string aside = path;
      if (apply_name_template(aside, template_of(settings.renane), settings.rn_ignore_err == 1,
                              clock) != 0) {
        return -1;
      }
      return platform::move_no_replace(path.c_str(), aside.c_str()) != 0 ? -1 : 0;
    }
    default:
      return kEngineOpens;
  }
}

}  // namespace

int open_target_file(ItemData* record, const EngineApi& api, const ProgramSettings& settings,
                     const Clock& clock, const PathInUse& in_use, std::string* chosen) {
  std::string path = record_file_name(record, api);
  if (path.empty()) return -1;
  const char* open_name = record->disk.file_name;
  if (record->disk.file != 0 && open_name != nullptr && path == open_name) {
    // Our own file already (a redirect to a URL of the same name): it is no
    // existing file to this download, and reopening would lose nothing but
    // could only go wrong.
    if (chosen != nullptr) *chosen = path;
    return 0;
  }
  if (taken_by_another(in_use, path)) {
    // Two downloads in one file would each overwrite the other's ranges.
    // Whatever the policy says about files on the disk, the file of a
    // download still under way is neither written over nor moved aside.
    if (settings.exist_file == kExistFail) {
      if (chosen != nullptr) *chosen = path;
      return kTargetBusy;
    }
    if (take_other_name(path, settings, clock, in_use, api) != 0) return -1;
  } else {
    const int step = existing_file_step(path, settings, clock, in_use, api);
    if (step == -1) return -1;
    if (step == kEngineOpens) {
      // The engine opens the file from save location and URL itself.
      if (chosen != nullptr) *chosen = path;
      return 0;
    }
  }
  if (open_slot_file(*record, api, path.c_str()) != 0) return -1;
  if (chosen != nullptr) *chosen = path;
  return 0;
}

int open_resumed_file(ItemData* record, const EngineApi& api, const std::string& path) {
  if (record == nullptr || path.empty()) return -1;
  // `path` may be the record's own file name, which the open replaces: it is
  // read from the caller's copy.
  return open_slot_file(*record, api, path.c_str()) == 0 ? 0 : -1;
}

}  // namespace torvane
