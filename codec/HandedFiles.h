#pragma once

// The files of the image in hand, as a decode worker that may open nothing by
// name gets them: the batch opens the source for reading and creates the
// save's temporary file, and hands both over as open descriptors. Once
// handing over is switched on, OpenRegularFile opens only the source handed
// over (a copy of its descriptor each time), and an AtomicSave writes only
// into the temporary file handed over for its target and leaves the rename
// to the batch. Where the batch could not open a file, its reason is handed
// over instead and given where the open would have failed, so that an image
// fails with the same reason as in the batch's own process.
//
// For the worker's one thread; the libraries' own threads open nothing.

#include <vector>

#include <QByteArray>
#include <QString>

namespace pixquill {

// From now on files are opened only as handed over. Cannot be undone.
void HandFilesOver();
bool FilesAreHandedOver();

// The files of the next image, replacing those of the last one (whose
// descriptors are closed). A descriptor is taken over; -1 with the reason
// the batch could not open the file.
void HandOverSource(const QByteArray& path, int fd, const QString& error);
void HandOverOutput(const QString& target, int fd, const QString& error);

// One output of the image in hand: an image made in several sizes has one
// for each.
struct HandedOutput {
    QString Target;
    int Fd = -1; // -1: Error says why it could not be made
    QString Error;
    // Why the output must not be written because it would replace a source
    // image (the batch decides, as it needs to look at names); empty when it
    // replaces none. No temporary file is made for such an output.
    QString ReplacesSource = {};
};
void HandOverOutputs(const std::vector<HandedOutput>& outputs);

// A copy of the source descriptor handed over for path (-1 with the reason
// when none was: a file not handed over cannot be read).
int OpenHandedSource(const QByteArray& path, QString& error);

// Takes the temporary file handed over for target (-1 with the reason when
// none was); it can be taken once.
int TakeHandedOutput(const QString& target, QString& error);

} // namespace pixquill
