#pragma once

// A folder of hostile and broken inputs, made at run time from good images
// drawn here: what a user's folder may hold and the loader must survive.
// Each case says what the loader must make of it, so the codec, engine,
// command-line and window tests can all run the same table.

#include <cstdint>
#include <functional>
#include <ostream>
#include <vector>

#include <QByteArray>
#include <QString>

#include "codec/OutputFormats.h"

class QImage;

namespace pixquill::test {

enum class BrokenKind {
    Empty,     // zero bytes
    Cut,       // a good file cut short
    Noise,     // random bytes under an image extension
    Swapped,   // a good file under another format's extension
    TooLarge,  // a header declaring more than 2^28 pixels
    NotAFile,  // a FIFO, a socket, a dangling symbolic link
    OddName,   // a good file under a name that trips naive code
};

const char* KindName(BrokenKind kind);

enum class Expect {
    Loads,       // must load (and make a thumbnail)
    Fails,       // must fail with the reason
    LoadsOrFails // either is sound (a file cut late may still decode); a failure needs the reason
};

struct BrokenInput {
    BrokenKind Kind;
    QString Name;       // file name inside the folder
    Expect Expected;
    QString Reason;     // for failures: the reason, or how it starts when ReasonIsPrefix
    bool ReasonIsPrefix = false;
    // Writes the case into the folder; false when it cannot be made here
    // (a socket path too long for the system, say).
    std::function<bool(const QString& folder)> Make;

    // True when reason is what this case must give on failure.
    bool ReasonMatches(const QString& reason) const;
};

void PrintTo(const BrokenInput& input, std::ostream* os);

// The whole table, in a fixed order; every name is distinct.
const std::vector<BrokenInput>& BrokenInputs();
std::vector<BrokenInput> BrokenInputsOf(BrokenKind kind);

// Makes every case of the list in the folder. Returns the cases made (a
// case that cannot be made on this system is left out).
std::vector<BrokenInput> MakeBrokenInputs(const QString& folder, const std::vector<BrokenInput>& inputs);

// One header of a too-large image per format, by format name ("png",
// "sgi", ...), for the size guard's tests and benchmark.
struct ImageBomb {
    const char* Format;
    const char* FileName;
    std::function<QByteArray()> Bytes; // made on demand: some draw a picture
};
std::vector<ImageBomb> ImageBombs();

// An 8-bit RGB PSD file of the image, raw or run-length coded.
QByteArray PsdOf(const QImage& image, bool runLength);

// A 24-bit PCX file of the image (three planes, run-length coded).
QByteArray PcxOf(const QImage& image);

// The output format row of a command-line name ("png"); the test aborts on a
// name no row has.
const OutputFormatEntry& OutputFormatNamed(const char* name);

// The image written by the codec itself in an output format, by its
// command-line name ("bmp", "gif", "ico", "jpg", "png", "tga", "tif", ...).
QByteArray EncodeWithCodec(const QImage& image, const char* format);

} // namespace pixquill::test
