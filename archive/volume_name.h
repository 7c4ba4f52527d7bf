// The name of a volume file: the one rule the runtime opens volumes by and
// the authoring tool writes and looks for them by.
#pragma once
#include <stdint.h>

#include "core/string.h"

// kVolumeNameFormat with the volume base name and volumeNumber ("setup" and 2
// give "setup2.XAV"). The installer itself is volume 1; files start at
// kFirstVolumeNumber.
String VolumeFileName(const String& baseName, int32_t volumeNumber);
