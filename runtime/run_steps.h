// A run's flow as a table of steps: the order of the installation and of the
// uninstallation is data a reader sees at a glance, and what the steps have
// in common (being skipped in automatic mode or on a flag bit, ending the
// flow with an outcome) is written once, in the walk.
//
// Each step is a function of the flow's own context (its run and what the
// steps hand on to each other). It returns kRunCompleted to go on, or the
// outcome the flow ends with; the walk stops there and returns that outcome.
#pragma once
#include <stdint.h>

#include "runtime/messages.h"
#include "runtime/run_state.h"

// When a step runs; the bits combine, and a step runs only when every bit
// set allows it.
enum StepCondition : uint8_t {
  kStepAlways = 0,
  kStepUnlessAutomatic = 1,  // skipped in automatic mode
  kStepIfFlag = 2,           // only when the step's flag bit is set
  kStepUnlessFlag = 4,       // skipped when the step's flag bit is set
};

template <typename Context>
struct RunStep {
  RunOutcome (*run)(Context& context);
  uint8_t conditions;  // StepCondition bits
  uint8_t flag;        // the flag bit kStepIfFlag and kStepUnlessFlag test
};

// Whether a step with these conditions runs now: automatic mode and the flag
// word are read as they are when the step's turn comes, so an earlier step's
// change counts.
bool StepApplies(const Run& run, uint8_t conditions, uint8_t flag);

// Walks the steps in order; returns the first outcome other than
// kRunCompleted, or kRunCompleted when every step went on.
template <typename Context, int32_t kCount>
RunOutcome RunSteps(const RunStep<Context> (&steps)[kCount], const Run& run, Context& context) {
  for (const RunStep<Context>& step : steps) {
    if (!StepApplies(run, step.conditions, step.flag)) continue;
    const RunOutcome outcome = step.run(context);
    if (outcome != kRunCompleted) return outcome;
  }
  return kRunCompleted;
}
