#pragma once

// The program pixquill-batch starts as its decode workers. Kept apart from
// the rest of the command line so that the tests can link a copy of
// pixquill-batch that starts their test-only worker instead: the program
// users run has no way to make its own workers fail on request.

#include "engine/WorkerProcess.h"

namespace pixquill {

// Program and Arguments only; the caller sets the timeout and the rest.
WorkerCommand DecodeWorkerProgram();

} // namespace pixquill
