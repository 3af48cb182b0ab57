#pragma once

// The child side of a batch whose images are decoded out of process: a loop
// that reads a job and then file names on standard input and answers each
// name with its ImageResult on standard output (WorkerProtocol), running
// ProcessImage with surfaces of its own. A crash inside a decoder then ends
// this process only; the batch reports the file and starts a fresh worker.

namespace pixquill {

// The hidden option with which a host program (pixquill-batch, the
// benchmark) is started as a decode worker; the host calls RunDecodeWorker.
inline constexpr char kDecodeWorkerOption[] = "--decode-worker";

// Exit statuses of RunDecodeWorker.
inline constexpr int kWorkerDone = 0;   // the batch closed standard input
inline constexpr int kWorkerBroken = 3; // unreadable request or a lost channel

// Serves requests until standard input ends. Standard output carries the
// replies only: it is moved to a private descriptor first and the old one
// points at standard error, so that a library printing to stdout cannot
// garble a reply.
//
// A worker started with SIGINT blocked (by a batch that handles Ctrl+C
// itself) is killed when the thread that started it ends, on Linux.
//
// A Probe only loads the file (into the same load surface) and answers
// whether that worked, and why not.
//
// Test hooks: when PIXQUILL_WORKER_CRASH_ON holds the file name in hand
// (several names may be separated by "/", which no file name contains), the
// worker leaves an empty temporary file in the destination folder, as an
// encoder dying mid-save would, and kills itself with SIGSEGV; when
// PIXQUILL_WORKER_HANG_ON holds it, the worker leaves such a file too and
// waits for ever, as an encoder stuck mid-save would.
int RunDecodeWorker();

} // namespace pixquill
