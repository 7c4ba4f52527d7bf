#include "archive/volume_name.h"

#include "archive/format.h"
#include "core/format.h"

String VolumeFileName(const String& baseName, int32_t volumeNumber) {
  return Formatted(kVolumeNameFormat, baseName.CStr(), (int)volumeNumber);
}
