#include "gui/extras/target_file.h"

#include <string>

#include "gui/extras/name_template.h"
#include "platform/file.h"

namespace torvane {

namespace {

constexpr int kFileThere = 1;  // DiskIO_CheckFile: 0 nothing, 1 a file, 2 a folder

const char* template_of(const std::optional<std::string>& text) {
  return text ? text->c_str() : nullptr;
}

}  // namespace

int open_target_file(ItemData* record, const EngineApi& api, const ProgramSettings& settings,
                     const Clock& clock) {
  if (record == nullptr || record->url == nullptr || record->save_path == nullptr) return -1;
  char built[TVN_PATH_CAPACITY] = {};
  if (api.DiskIO_MakeFileName(record->save_path, record->url, built) != 0) return -1;
  std::string path = built;
  switch (settings.exist_file) {
    case kExistOverwrite:
      break;
    case kExistFail:
      if (api.DiskIO_CheckFile(path.c_str()) == kFileThere) return -1;
      break;
    case kExistOtherName:
      // The other name is not tested again: a second clash in the same
      // minute writes over the earlier other-named file, as the template
      // names it the same.
      if (api.DiskIO_CheckFile(path.c_str()) == kFileThere &&
          apply_name_template(path, template_of(settings.other_name),
                              settings.on_ignore_err == 1, clock) != 0) {
        return -1;
      }
      break;
    case kExistRenameOld:
      if (api.DiskIO_CheckFile(path.c_str()) == kFileThere) {
        std::string aside = path;
        if (apply_name_template(aside, template_of(settings.renane),
                                settings.rn_ignore_err == 1, clock) != 0) {
          return -1;
        }
        if (platform::move_no_replace(path.c_str(), aside.c_str()) != 0) return -1;
      }
      break;
    default:
      return 0;  // the engine opens the file from save location and URL itself
  }
  return api.DiskIO_OpenFile(&record->disk, path.c_str()) == 0 ? 0 : -1;
}

}  // namespace torvane
