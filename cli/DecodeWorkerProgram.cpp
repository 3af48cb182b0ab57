#include "cli/DecodeWorkerProgram.h"

#include <QCoreApplication>

#include "engine/DecodeWorker.h"

namespace pixquill {

// This very program, started with the option main() answers by serving as a
// worker.
WorkerCommand DecodeWorkerProgram()
{
    return {QCoreApplication::applicationFilePath(), {QString::fromLatin1(kDecodeWorkerOption)}};
}

} // namespace pixquill
