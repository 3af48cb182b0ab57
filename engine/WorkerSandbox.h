#pragma once

// The lock-down of a decode worker, on Linux. A crafted image that takes
// over a decoder gets a process that has no way to new privileges, can open
// no file by name (Landlock with no rules, and the filter below), can reach
// no network, start no program, make no other process and trace or signal
// none, and change no identity. It keeps what decoding, rendering and saving
// a thumbnail need: its own memory and threads, and the descriptors it
// holds, among them the files the batch hands over for the image in hand
// (HandedFiles).
//
// A refused call fails with an error (EPERM, EACCES for opens), it does not
// kill: an unexpected call in a library shows up as a failed image with a
// reason, never as a crash.

#include <QString>

namespace pixquill {

struct SandboxState {
    bool NoNewPrivileges = false;
    bool Seccomp = false;
    int LandlockAbi = 0; // 0: no Landlock
    // Why nothing took hold, where nothing did ("not in sanitizer builds").
    QString Missing;
};

// What a decode worker would get on this system, without applying anything.
SandboxState AvailableSandbox();

// One line for --version: "decode workers: sandboxed (seccomp, Landlock 7)".
QString DescribeSandbox(const SandboxState& state);

// Which of the two refusing layers to apply; a worker applies both, each of
// which refuses a file by name on its own (so one can be tested alone).
struct SandboxLayers {
    bool Landlock = true;
    bool Seccomp = true;
};

// Locks the calling process down for good, as far as the kernel allows; the
// libraries must have loaded whatever they load lazily first
// (PrepareLibrariesForSandbox). Call it while the process has one thread:
// Landlock holds for the calling thread and the threads it starts.
SandboxState LockDownWorker(SandboxLayers layers = {});

} // namespace pixquill
