// pixquill_test_batch is pixquill-batch with this instead of its own
// cli/DecodeWorkerProgram.cpp: its decode workers are the test-only worker
// (tests/support/TestWorker.cpp), which can stand in for a file that crashes
// or hangs the decoder.

#include "cli/DecodeWorkerProgram.h"

namespace pixquill {

WorkerCommand DecodeWorkerProgram()
{
    return {QStringLiteral(PIXQUILL_TEST_WORKER_BINARY), {}};
}

} // namespace pixquill
