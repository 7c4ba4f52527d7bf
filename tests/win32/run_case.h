// The run of one test case: every case that drives the runtime's steps gets
// a fresh Run, attached to the fatal path while it lasts, so no case sees
// what another left behind and none resets state by hand.
#pragma once
#include <gtest/gtest.h>

#include "runtime/messages.h"
#include "runtime/run_state.h"

// A fresh run, attached for its scope (the run attached before comes back
// at its end); a case that goes through several runs makes one per run.
class AttachedRun {
 public:
  AttachedRun() : previous_(AttachFatalPath(&run)) {}
  ~AttachedRun() { AttachFatalPath(previous_); }
  AttachedRun(const AttachedRun&) = delete;
  AttachedRun& operator=(const AttachedRun&) = delete;

  Run run;

 private:
  Run* previous_;
};

// The fixture of cases with one run each.
class RunCase : public ::testing::Test {
 protected:
  AttachedRun attached_;
  ::Run& run = attached_.run;  // qualified: the test base has a member function of that name
};
