// The positive control: with the queue layer's include folders every core
// header and the engine's public header are found.
#include "core/queue/download_manager.h"
#include "core/settings/settings.h"
#include "core/system/clock.h"
#include "core/text/text_util.h"
#include "platform/file.h"
#include "torvane/torvane.h"
