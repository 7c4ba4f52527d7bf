// The two report texts of a run:
//  - the error text: every per-item failure of the installing steps appends
//    one complete message to it; it is shown and logged at the end;
//  - the install log text: report lines ("name -> path", "Deleted file: ...")
//    that become the body of the block appended to the installation log.
// Both start empty and are only ever appended to until the end of the run.
#pragma once
#include "core/string.h"

struct RunTexts {
  String errors;
  String installLog;
};
