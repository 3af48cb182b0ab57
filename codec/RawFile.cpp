#include "codec/RawFile.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include <libraw/libraw.h>

#include "codec/LibraryMessages.h"

namespace pixquill {
namespace {

// The most LibRaw may take for the raw data it unpacks: a Bayer image of
// kMaxPixels at 16 bits is half of it, a 128-megapixel four-sample one all.
constexpr unsigned kMaxRawMemoryMb = 1024;

// LibRaw reads through this: a cursor over the ByteReader with a window of
// the file kept here, since LibRaw's bit readers ask for one byte at a time.
// One decode at a time: where LibRaw reads on several threads it serialises
// the reads itself.
class ReaderStream final : public LibRaw_abstract_datastream {
public:
    ReaderStream(const ByteReader& read, std::int64_t size)
        : m_read(read)
        , m_size(std::max<std::int64_t>(size, 0))
    {
    }

    int valid() override { return 1; }

    // True once LibRaw asked for bytes beyond the end of the file.
    bool ReadPastEnd() const { return m_readPastEnd; }

    int read(void* out, size_t size, size_t count) override
    {
        if (size == 0 || count == 0)
            return 0;
        count = std::min<size_t>(count, size_t(INT_MAX));
        const std::int64_t left = std::max<std::int64_t>(m_size - m_position, 0);
        const bool pastEnd = count > size_t(left) / size;
        m_readPastEnd = m_readPastEnd || pastEnd;
        const std::int64_t wanted = pastEnd ? left : std::int64_t(count * size);
        return int(Copy(static_cast<unsigned char*>(out), wanted) / std::int64_t(size));
    }

    int seek(INT64 offset, int whence) override
    {
        std::int64_t base = 0;
        if (whence == SEEK_CUR)
            base = m_position;
        else if (whence == SEEK_END)
            base = m_size;
        std::int64_t target = 0;
        if (__builtin_add_overflow(base, std::int64_t(offset), &target) || target < 0)
            return -1;
        m_position = target;
        return 0;
    }

    INT64 tell() override { return m_position; }
    INT64 size() override { return m_size; }
    int eof() override { return m_position >= m_size; }

    int get_char() override
    {
        if (!InWindow() && !Fill())
            return -1;
        return m_window[std::size_t(m_position++ - m_windowStart)];
    }

    // As fgets: up to size - 1 bytes, to the end of the line included.
    char* gets(char* out, int size) override
    {
        if (!out || size <= 0)
            return nullptr;
        int n = 0;
        while (n < size - 1) {
            const int c = get_char();
            if (c < 0)
                break;
            out[n++] = char(c);
            if (c == '\n')
                break;
        }
        if (n == 0)
            return nullptr;
        out[n] = '\0';
        return out;
    }

    // LibRaw only ever asks for one "%d" or "%f".
    int scanf_one(const char* format, void* value) override
    {
        int c = get_char();
        while (c == ' ' || c == '\t' || c == '\n' || c == '\r')
            c = get_char();
        if (c < 0)
            return EOF;
        char text[40];
        std::size_t n = 0;
        while (c >= 0 && n + 1 < sizeof text && (std::strchr("+-.eE", c) || (c >= '0' && c <= '9'))) {
            text[n++] = char(c);
            c = get_char();
        }
        if (c >= 0)
            --m_position; // the character after the number stays unread
        text[n] = '\0';
        char* end = nullptr;
        if (std::strcmp(format, "%d") == 0) {
            const long number = std::strtol(text, &end, 10);
            if (end == text)
                return 0;
            *static_cast<int*>(value) = int(std::clamp<long>(number, INT_MIN, INT_MAX));
        } else {
            const float number = std::strtof(text, &end);
            if (end == text)
                return 0;
            *static_cast<float*>(value) = number;
        }
        return 1;
    }

    // No JasPer here: LibRaw's only use of it, RED's movie frames, fails.
    void* make_jas_stream() override { return nullptr; }

private:
    static constexpr std::int64_t kWindow = 64 * 1024;

    bool InWindow() const { return m_position >= m_windowStart && m_position < m_windowStart + m_windowFilled; }

    bool Fill()
    {
        if (m_position >= m_size)
            return false;
        m_window.resize(std::size_t(kWindow));
        m_windowStart = m_position;
        m_windowFilled = std::max<std::int64_t>(m_read(m_position, m_window.data(), kWindow), 0);
        return m_windowFilled > 0;
    }

    std::int64_t Copy(unsigned char* out, std::int64_t wanted)
    {
        std::int64_t done = 0;
        while (done < wanted) {
            if (!InWindow()) {
                if (wanted - done >= kWindow) {
                    const std::int64_t got = std::max<std::int64_t>(m_read(m_position, out + done, wanted - done), 0);
                    m_position += got;
                    return done + got;
                }
                if (!Fill())
                    break;
            }
            const std::int64_t n
                = std::min(wanted - done, m_windowStart + m_windowFilled - m_position);
            std::memcpy(out + done, m_window.data() + (m_position - m_windowStart), std::size_t(n));
            m_position += n;
            done += n;
        }
        return done;
    }

    const ByteReader& m_read;
    std::int64_t m_size;
    std::int64_t m_position = 0;
    bool m_readPastEnd = false;
    std::vector<unsigned char> m_window;
    std::int64_t m_windowStart = 0;
    std::int64_t m_windowFilled = 0;
};

// What LibRaw reports besides its return codes; its own handlers would print
// it on stderr.
struct Complaints {
    QString First;
    bool DataError = false;

    void Add(const QString& words)
    {
        if (First.isEmpty())
            First = words;
    }
};

void OnDataError(void* data, const char*, const int offset)
{
    auto* complaints = static_cast<Complaints*>(data);
    complaints->DataError = true;
    complaints->Add(offset < 0 ? QStringLiteral("Unexpected end of file")
                               : QStringLiteral("data corrupted at %1").arg(offset));
}

void OnMemoryError(void* data, const char*, const char* where)
{
    static_cast<Complaints*>(data)->Add(QStringLiteral("Out of memory in %1").arg(LibraryMessages::OneLine(where)));
}

// LibRaw with a look at what it keeps to itself.
class GuardedLibRaw final : public LibRaw {
public:
    using LibRaw::LibRaw;

    // LibRaw 0.20 reads a preview stored in planes (one a colour) into
    // buffers of width x height bytes a plane, but reads the byte count the
    // file declares: a file that declares more overruns them.
    bool PreviewOverrunsItsBuffer() const
    {
        const std::uint64_t plane = std::uint64_t(imgdata.thumbnail.twidth) * imgdata.thumbnail.theight;
        return write_thumb == &GuardedLibRaw::layer_thumb && imgdata.thumbnail.tlength > plane;
    }
};

} // namespace

struct RawFile::State {
    State(const ByteReader& read, std::int64_t size)
        : Stream(read, size)
        , Raw(new (std::nothrow) GuardedLibRaw(LIBRAW_OPIONS_NO_MEMERR_CALLBACK | LIBRAW_OPIONS_NO_DATAERR_CALLBACK))
    {
    }

    // LibRaw reads through Stream and reports into Said: neither may move.
    ReaderStream Stream;
    std::unique_ptr<GuardedLibRaw> Raw;
    Complaints Said;
};

RawFile::RawFile(const ByteReader& read, std::int64_t size)
    : m_state(new (std::nothrow) State(read, size))
{
    if (!m_state || !m_state->Raw) {
        m_error = QStringLiteral("not enough memory for the image");
        return;
    }
    LibRaw& raw = *m_state->Raw;
    raw.set_dataerror_handler(OnDataError, &m_state->Said);
    raw.set_memerror_handler(OnMemoryError, &m_state->Said);
    raw.imgdata.params.max_raw_memory_mb = kMaxRawMemoryMb;
    Check(raw.open_datastream(&m_state->Stream));
}

RawFile::~RawFile() = default;

bool RawFile::Check(int status)
{
    if (!m_error.isEmpty())
        return false;
    if (status == LIBRAW_SUCCESS && !m_state->Said.DataError)
        return true;
    // LibRaw says "Input/output error" for a file that ends early, too.
    const bool cut = status == LIBRAW_IO_ERROR && m_state->Stream.ReadPastEnd();
    const QString words = !m_state->Said.First.isEmpty() ? m_state->Said.First
                          : cut ? QStringLiteral("the file ends before its data do")
                                : LibraryMessages::OneLine(libraw_strerror(status));
    m_error = QStringLiteral("cannot decode the image (") + words + QLatin1Char(')');
    return false;
}

UprightSize RawFile::Picture() const
{
    if (!Ok())
        return {};
    int width = 0, height = 0, colors = 0, bits = 0;
    m_state->Raw->get_mem_image_format(&width, &height, &colors, &bits);
    return {width, height};
}

std::uint64_t RawFile::RawWidth() const
{
    return Ok() ? m_state->Raw->imgdata.sizes.raw_width : 0;
}

std::uint64_t RawFile::RawHeight() const
{
    return Ok() ? m_state->Raw->imgdata.sizes.raw_height : 0;
}

int RawFile::Orientation() const
{
    // LibRaw's flip: bit 2 swaps the axes, then bit 1 mirrors the rows and
    // bit 0 the columns.
    static constexpr int kOrientation[8] = {1, 2, 4, 3, 5, 8, 6, 7};
    return Ok() ? kOrientation[m_state->Raw->imgdata.sizes.flip & 7] : 1;
}

bool RawFile::KnowsCamera() const
{
    if (!Ok())
        return false;
    const auto& matrix = m_state->Raw->imgdata.color.cam_xyz;
    return std::any_of(&matrix[0][0], &matrix[0][0] + sizeof matrix / sizeof matrix[0][0],
                       [](float value) { return value != 0; });
}

bool RawFile::HasPreview() const
{
    return Ok() && m_state->Raw->thumbOK(m_state->Stream.size()) != 0;
}

int RawFile::DeclaredPreviewWidth() const
{
    return Ok() ? m_state->Raw->imgdata.thumbnail.twidth : 0;
}

int RawFile::DeclaredPreviewHeight() const
{
    return Ok() ? m_state->Raw->imgdata.thumbnail.theight : 0;
}

RawFile::Preview RawFile::UnpackPreview()
{
    Preview preview;
    if (!HasPreview() || m_state->Raw->PreviewOverrunsItsBuffer())
        return preview;
    LibRaw& raw = *m_state->Raw;
    // A preview that cannot be read leaves the raw data to render: what
    // LibRaw said about it is no reason to refuse the file.
    const Complaints before = m_state->Said;
    const int status = raw.unpack_thumb();
    m_state->Said = before;
    const libraw_thumbnail_t& thumbnail = raw.imgdata.thumbnail;
    if (status != LIBRAW_SUCCESS || !thumbnail.thumb || thumbnail.tlength == 0)
        return preview;
    preview.Data = reinterpret_cast<const std::uint8_t*>(thumbnail.thumb);
    preview.Length = thumbnail.tlength;
    preview.Width = thumbnail.twidth;
    preview.Height = thumbnail.theight;
    preview.Colors = thumbnail.tcolors;
    if (thumbnail.tformat == LIBRAW_THUMBNAIL_JPEG)
        preview.Type = Preview::Kind::Jpeg;
    else if (thumbnail.tformat == LIBRAW_THUMBNAIL_BITMAP)
        preview.Type = Preview::Kind::Samples;
    return preview;
}

bool RawFile::Render(bool halfSize)
{
    if (!Ok())
        return false;
    libraw_output_params_t& params = m_state->Raw->imgdata.params;
    params.half_size = halfSize ? 1 : 0;
    params.use_camera_wb = 1;
    params.output_color = 1; // sRGB
    params.output_bps = 8;
    return Check(m_state->Raw->unpack()) && Check(m_state->Raw->dcraw_process());
}

void RawFile::RenderedFormat(int& width, int& height, int& colors) const
{
    int bits = 0;
    width = height = colors = 0;
    if (Ok())
        m_state->Raw->get_mem_image_format(&width, &height, &colors, &bits);
    if (bits != 8)
        width = height = colors = 0;
}

bool RawFile::CopyRendered(std::uint8_t* firstRow, int stride, bool bgr)
{
    return Ok() && Check(m_state->Raw->copy_mem_image(firstRow, stride, bgr ? 1 : 0));
}

} // namespace pixquill
