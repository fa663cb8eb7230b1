// The cookie step of notice 111.
#include "gui/items/cookies.h"

namespace torvane {

int cookie_step(ItemData* /*record*/, ListItem& /*item*/, int /*cookie_value*/,
                int /*prepared_divisions*/, SlotStrings& /*strings*/,
                const ItemSettingsEnv& /*env*/) {
  return 0;
}

}  // namespace torvane
