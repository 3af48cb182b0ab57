#pragma once

// What a decoder reads from: an open regular file, a file's content rebuilt in
// memory (FileQuirks), or any other ByteReader (a file with patches laid over
// it). Header checks read it at random through Reader(); FreeImage reads it as
// a stream through Io() and Handle(). One decode at a time: the stream
// position is the object's own.

#include <cstdint>
#include <memory>

#include <QByteArray>
#include <QString>

#include "codec/ByteReader.h"

struct FreeImageIO;

namespace pixquill {

class InputSource {
public:
    // Takes over an open file descriptor of a file of `size` bytes.
    InputSource(int fd, std::int64_t size);
    explicit InputSource(QByteArray bytes);
    // Reads through another reader, which must outlive this object's reads.
    InputSource(ByteReader read, std::int64_t size);
    ~InputSource();
    InputSource(const InputSource&) = delete;
    InputSource& operator=(const InputSource&) = delete;

    std::int64_t Size() const { return m_size; }
    const ByteReader& Reader() const { return m_read; }

    // FreeImage's procedures and the handle they take; reads never write
    // past what the file holds, as fread.
    FreeImageIO* Io();
    void* Handle() { return this; }
    // Back to the start, as FreeImage's readers expect to begin there.
    void Rewind() { m_pos = 0; }

private:
    std::int64_t ReadFile(std::int64_t offset, void* out, std::int64_t size) const;
    int Seek(long offset, int origin);

    static unsigned ReadProc(void* buffer, unsigned size, unsigned count, void* handle);
    static unsigned WriteProc(void* buffer, unsigned size, unsigned count, void* handle);
    static int SeekProc(void* handle, long offset, int origin);
    static long TellProc(void* handle);

    int m_fd = -1;
    QByteArray m_bytes;
    ByteReader m_read;
    std::int64_t m_size = 0;
    std::int64_t m_pos = 0;
};

// Opens a path (the file system's own bytes) for decoding, refusing without
// opening it whatever is not a regular file: a FIFO would block the open (or
// a writer waiting on it), a socket cannot be opened, a device may never end.
// Null with the reason in `error` ("file not found", "broken symbolic link",
// "is a folder", "not a regular file", "empty file", "file cannot be read
// (...)").
//
// In a decode worker whose files are handed over (HandedFiles), only the
// source handed over is opened, whatever the name.
std::unique_ptr<InputSource> OpenRegularFile(const QByteArray& name, QString& error);

// The same checks and open for a file to be handed over: its descriptor
// (close-on-exec) and size, or -1 with the reason.
int OpenRegularDescriptor(const QByteArray& name, QString& error, std::int64_t& size);

} // namespace pixquill
