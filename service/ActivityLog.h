#pragma once
// The activity log lives with the engine's paths (engine/ActivityLog.h), so
// that the engine update below the service can write it too.

#include "engine/ActivityLog.h"
