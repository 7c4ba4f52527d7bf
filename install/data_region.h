// The data region: the archive's entry records, joined into one block in
// memory, verified and unpacked.
//
// The region may be split: a first piece in the program's own image (the
// mapped archive section) or in its own file beyond the image, and
// continuation pieces in volume files "<base><k>.XAV" (k = 2, 3, ...) next
// to the installer, each starting with its 32-bit identifier. Missing or
// wrong volumes are asked for until found or until the user confirms the
// cancel.
//
// Guarantees:
//  - A region wholly in the image is used in place, never copied.
//  - Otherwise one block of exactly the region's size is allocated, owned by
//    the process for its whole life; no piece is ever written past it: a
//    volume or a file tail longer than the bytes still missing is a corrupt
//    archive (code 50), never an overflow.
//  - The checksum covers the region as stored (55); a compressed region is
//    unpacked into a new block kept for the process's life (60 when it does
//    not decode). A region that passed its checksum but does not fit in the
//    memory there is gets the out-of-memory report, never a corrupt-archive
//    code: the installer is sound, the machine is short of memory.
//  - On return the archive cursor covers exactly the (unpacked) region and
//    stands on its first entry record, so every later read is bounded by it.
// Every failure ends the process (the "Error code 2" fatal message, the
// corrupt-archive report with its code, or the out-of-memory report).
#pragma once
#include <stdint.h>

class ProgressDialog;
struct Run;

// Assembles, verifies and unpacks the run's region; moves the progress bar
// from 5 to 35 across volumes, then to 36 (verifying) and 40 (unpacking).
void AssembleDataRegion(Run& run, ProgressDialog& progress);

// The pacing wait after a stage: at least StagePause milliseconds since the
// stage's start; never waits in automatic mode or with a pause of 0.
void WaitStagePause(const Run& run);

// Checks a message used as the format of integer arguments: true when every
// conversion in it takes an int ('d', 'i', 'o', 'u', 'x', 'X', 'c') and at
// most count of them occur, so formatting it cannot read a pointer or past
// its arguments.
bool IsIntegerFormat(const char* format, int32_t count);
