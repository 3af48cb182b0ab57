#pragma once

// The second line between a batch and a decode worker, beside the pipes: a
// Unix socket over which the batch hands the worker, with each Image or
// Look, the files it needs for it as open descriptors (the source for
// reading, the save's temporary file for writing), so that the worker itself
// opens nothing by name. One message per request, sent before the request.
// The other way, a worker answering a Look sends the memory file that holds
// the picture, just before the answer.

#include <optional>

#include <QString>

namespace pixquill {

struct Handover {
    QString SourcePath; // as the worker will ask for it
    int SourceFd = -1;  // -1: SourceError says why it could not be opened
    QString SourceError;
    QString OutputPath; // empty for a look, which writes nothing
    int OutputFd = -1;
    QString OutputError;
    // Why the output must not be written because it would replace a source
    // image (CheckReplacesNoSource, which needs to look at names, so the
    // batch makes it); empty when it replaces none.
    QString ReplacesSource;
};

// A connected pair (SOCK_SEQPACKET, close-on-exec): the batch's end first.
bool MakeHandoverChannel(int ends[2]);

// Sends one message; the descriptors stay the caller's. False when the
// worker's end is gone. Never raises SIGPIPE.
bool SendHandover(int socket, const Handover& handover);

// Receives one message; its descriptors become the caller's (close-on-exec).
// Nullopt at the end of the channel or on a malformed message, whose
// descriptors are closed.
std::optional<Handover> ReceiveHandover(int socket);

// Sends fd alone as one message (the worker's side); the descriptor stays
// the caller's. False when the other end is gone. Never raises SIGPIPE.
bool SendDescriptor(int socket, int fd);

// The descriptor of the message waiting on the channel, without waiting for
// one, close-on-exec and the caller's; -1 when none waits or the message is
// not one descriptor alone (whatever it carried is closed).
int TakeDescriptor(int socket);

} // namespace pixquill
