#include "runtime/run_steps.h"

bool StepApplies(const Run& run, uint8_t conditions, uint8_t flag) {
  if ((conditions & kStepUnlessAutomatic) && run.options.automaticMode) return false;
  const bool flagSet = ProductFlag(run, flag);
  if ((conditions & kStepIfFlag) && !flagSet) return false;
  return !((conditions & kStepUnlessFlag) && flagSet);
}
