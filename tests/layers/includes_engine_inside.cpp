// Must not compile: the core knows the engine only through its public header.
#include "engine/engine_state.h"
