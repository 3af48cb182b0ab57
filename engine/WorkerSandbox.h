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
    // No capability left in the effective, permitted, inheritable and
    // ambient sets (root's worker included).
    bool NoCapabilities = false;
    // What did not hold and why, in the program's words, joined by ", ":
    // "seccomp refused (Operation not permitted)"; empty when every layer
    // asked for held. A front end says it (SandboxNote).
    QString Missing;
    // Left out on purpose, by a build that cannot run its workers locked
    // down (the sanitizers'): Missing says so for --version, and runs do not
    // repeat it.
    bool Deliberate = false;
};

// What a decode worker would get on this system, without applying anything:
// what the kernel offers, not what a filter around this process allows
// (a worker tells that, see WorkerProcess::Sandbox).
SandboxState AvailableSandbox();

// One line for --version: "decode workers: sandboxed (seccomp, Landlock 7,
// no capabilities)", "decode workers: partly sandboxed (Landlock 7; seccomp
// refused (Operation not permitted))" or "decode workers: not sandboxed
// (...)".
QString DescribeSandbox(const SandboxState& state);

// The line a run says once where a worker's lock-down fell short: "decoding
// is not sandboxed here: seccomp refused (Operation not permitted)"; empty
// when nothing is missing or it was left out on purpose.
QString SandboxNote(const SandboxState& state);

// Which of the two refusing layers to apply; a worker applies both, each of
// which refuses a file by name on its own (so one can be tested alone).
struct SandboxLayers {
    bool Landlock = true;
    bool Seccomp = true;
};

// Locks the calling process down for good, as far as the kernel and whatever
// confines this process allow, and tells what held: every layer's result is
// checked, a refused one is tried the other way where there is one (no new
// privileges already set counts; seccomp() refused, the older prctl), and
// what stays unavailable is in Missing. The caller must pass Missing on: a
// worker sends the state to its batch first thing. Every capability is
// dropped, the bounding set too where allowed. The libraries must have
// loaded whatever they load lazily first (PrepareLibrariesForSandbox). Call
// it while the process has one thread: Landlock and the prctl road of
// seccomp hold for the calling thread and the threads it starts.
SandboxState LockDownWorker(SandboxLayers layers = {});

} // namespace pixquill
