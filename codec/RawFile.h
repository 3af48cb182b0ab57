#pragma once

// One camera RAW file opened by LibRaw (its thread-safe library): the
// metadata read when it opens, its preview and its raw data on request.
// LibRaw reads through the ByteReader, a window of the file at a time, never
// a copy of the whole file. Nothing is printed: what LibRaw has to say about
// damaged data or memory becomes the error, in its words. LibRaw's headers
// stay in RawFile.cpp (their integer types clash with FreeImage's).
// One thread at a time per object.

#include <cstdint>
#include <memory>

#include <QString>

#include "codec/ByteReader.h"
#include "codec/DecoderTable.h"

namespace pixquill {

class RawFile {
public:
    // Opens the file: reads its metadata, decodes nothing. `read` must
    // outlive the object.
    RawFile(const ByteReader& read, std::int64_t size);
    ~RawFile();
    RawFile(const RawFile&) = delete;
    RawFile& operator=(const RawFile&) = delete;

    // False, with "cannot decode the image (LibRaw's words)" as the error,
    // once a step failed, or met damaged data that LibRaw would fill in and
    // go on with.
    bool Ok() const { return m_error.isEmpty(); }
    const QString& Error() const { return m_error; }

    // The whole picture as LibRaw renders it: a Fuji SuperCCD's turn and a
    // non-square pixel's stretch applied, the sides swapped for a quarter
    // turn.
    UprightSize Picture() const;
    // The sensor's data as stored, margins included.
    std::uint64_t RawWidth() const;
    std::uint64_t RawHeight() const;
    // How the camera was held, as an EXIF orientation (1 to 8).
    int Orientation() const;
    // LibRaw holds the colours of the camera the file names: it is one of
    // LibRaw's cameras, not any TIFF with a Make tag (LibRaw takes a 16-bit
    // grey TIFF for a raw file whatever wrote it).
    bool KnowsCamera() const;

    // The largest preview the file holds (LibRaw keeps the largest of them),
    // as declared before it is unpacked: 0 x 0 when its size is not known
    // beforehand (a JPEG's often is not).
    bool HasPreview() const;
    int DeclaredPreviewWidth() const;
    int DeclaredPreviewHeight() const;

    struct Preview {
        enum class Kind { None, Jpeg, Samples } Type = Kind::None;
        const std::uint8_t* Data = nullptr; // LibRaw's copy, valid while the object lives
        std::int64_t Length = 0;
        int Width = 0; // of Samples: 8 bits each, Colors of them a pixel
        int Height = 0;
        int Colors = 0;
    };
    // The preview's bytes as stored, unturned; Kind::None when it cannot be
    // read (which does not make the file fail).
    Preview UnpackPreview();

    // Unpacks and renders the raw data: camera white balance, sRGB, 8 bits,
    // at half size (a 2 x 2 block of the sensor a pixel) when asked.
    bool Render(bool halfSize);
    // The rendered picture's format, upright; after Render.
    void RenderedFormat(int& width, int& height, int& colors) const;
    // Copies the rendered picture, upright, rows top-down `stride` bytes
    // apart (negative: upwards in memory), samples blue first when bgr.
    bool CopyRendered(std::uint8_t* firstRow, int stride, bool bgr);

private:
    bool Check(int status);

    struct State;
    std::unique_ptr<State> m_state;
    QString m_error;
};

} // namespace pixquill
