#pragma once

// The child side of a batch whose images are decoded out of process: a loop
// that reads a job and then file names on standard input and answers each
// name with its ImageResult on standard output (WorkerProtocol), running
// ProcessImage with surfaces of its own. A crash inside a decoder then ends
// this process only; the batch reports the file and starts a fresh worker.

#include <functional>

#include <QImage>
#include <QString>

#include "engine/JobSettings.h"

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
// Before the first request the worker locks itself down (LockDownWorker)
// and sends what of that held as its first frame (Sandbox): from then on it opens no file by name and uses the files the batch hands
// over with each request on the channel named by the first frame
// (HandedFiles, Handover).
//
// A Look loads the file (into the same load surface) and sends the loaded
// picture back, or why it could not be loaded: in a sealed memory file over the channel, just
// before its answer (SharedPicture), or where none can be made in the answer;
// a large picture's Glance goes first, through the pipe.
//
// How a Look's picture goes back: the sizes its answer gives and the memory
// file sent beside it (-1: none is sent).
struct SharedPictureHandover {
    int Width = 0;
    int Height = 0;
    int Fd = -1;
};

// A program that serves as a decode worker only for tests (the shipped
// programs pass no hooks) steps in here to behave as a broken file would make
// a real decoder behave.
struct DecodeWorkerHooks {
    // Called with the file name of each image (settings: the job's) or of
    // each look (settings: null) before it is loaded, on the worker's only
    // thread. It may crash the process, or never return.
    std::function<void(const QString& fileName, const JobSettings* settings)> BeforeFile;
    // Called with the file name of each image after BeforeFile, in place of
    // its decoding: does what a decoder taken over by a hostile file might
    // try. A non-empty answer (what was tried and what came of it) fails the
    // image with that reason; the worker goes on with the next request.
    std::function<QString(const QString& fileName, const JobSettings& settings)> TakeOver;
    // Called with the path and the loaded picture of each Look that loaded,
    // in place of handing the picture back: fills in what a worker taken
    // over by a hostile file might send instead (the descriptor, if any, is
    // closed after sending) and answers true; false leaves it to the worker.
    std::function<bool(const QString& path, const QImage& picture, SharedPictureHandover& handover)> TakeOverLook;
    // False only where the lock-down's own cost is measured (the benchmark's
    // worker without it); the files are handed over all the same.
    bool LockDown = true;
};

int RunDecodeWorker(const DecodeWorkerHooks& hooks = {});

} // namespace pixquill
