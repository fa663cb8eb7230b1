// Must not compile: the text layer lies below the queue.
#include "core/queue/list_item.h"
