// The run the steps not yet handed their run as an argument reach: the one
// attached to the fatal path. Only code above the runtime floor uses it, and
// less of it with each floor that takes the run as an argument.
#pragma once
#include "runtime/run_state.h"

Run& CurrentRun();
