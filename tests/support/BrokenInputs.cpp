#include "tests/support/BrokenInputs.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include "codec/MFreeImage_2.h"
#include "codec/Surface.h"
#include "tests/support/TestImages.h"

namespace pixquill::test {

namespace {

// ------------------------------------------------------------ byte helpers

void Be16(QByteArray& out, std::uint32_t v)
{
    out.append(static_cast<char>(v >> 8));
    out.append(static_cast<char>(v));
}

void Be32(QByteArray& out, std::uint32_t v)
{
    Be16(out, v >> 16);
    Be16(out, v & 0xFFFF);
}

void Le16(QByteArray& out, std::uint32_t v)
{
    out.append(static_cast<char>(v));
    out.append(static_cast<char>(v >> 8));
}

void Le32(QByteArray& out, std::uint32_t v)
{
    Le16(out, v & 0xFFFF);
    Le16(out, v >> 16);
}

std::uint32_t Crc32(const QByteArray& bytes)
{
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const char ch : bytes) {
        crc ^= static_cast<std::uint8_t>(ch);
        for (int k = 0; k < 8; ++k)
            crc = (crc & 1u) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return crc ^ 0xFFFFFFFFu;
}

// A PNG-style chunk: length, type, data, CRC over type and data.
void Chunk(QByteArray& out, const char* type, const QByteArray& data)
{
    Be32(out, static_cast<std::uint32_t>(data.size()));
    QByteArray typed(type, 4);
    typed.append(data);
    out.append(typed);
    Be32(out, Crc32(typed));
}

bool Write(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QImage Picture()
{
    return GradientImage(96, 64);
}

QByteArray Noise(std::uint32_t seed, int size)
{
    std::mt19937 random(seed);
    QByteArray bytes(size, '\0');
    for (char& b : bytes)
        b = static_cast<char>(random() & 0xFF);
    return bytes;
}

// ------------------------------------------------------------------ bombs

constexpr std::uint32_t kHuge = 100000; // 10^10 pixels as a square
constexpr std::uint32_t kHuge16 = 65535; // the largest a 16-bit field holds: 4.3 * 10^9 pixels

QByteArray PngBomb()
{
    QByteArray out("\x89PNG\r\n\x1a\n", 8);
    QByteArray ihdr;
    Be32(ihdr, kHuge);
    Be32(ihdr, kHuge);
    ihdr.append("\x08\x02\x00\x00\x00", 5);
    Chunk(out, "IHDR", ihdr);
    Chunk(out, "IDAT", QByteArray("\x78\x9c\x63\x60", 4));
    Chunk(out, "IEND", {});
    return out;
}

QByteArray JpegBomb()
{
    // A real JPEG whose frame header is made to declare 65500 x 65500.
    QByteArray jpeg = QtEncoded(GradientImage(16, 16), "JPEG");
    const qsizetype sof = jpeg.indexOf(QByteArray("\xFF\xC0", 2));
    if (sof < 0)
        return {};
    jpeg[sof + 5] = static_cast<char>(0xFF);
    jpeg[sof + 6] = static_cast<char>(0xDC);
    jpeg[sof + 7] = static_cast<char>(0xFF);
    jpeg[sof + 8] = static_cast<char>(0xDC);
    return jpeg;
}

QByteArray BmpInfoHeader(std::uint32_t size, std::int32_t width, std::int32_t height, int bits)
{
    QByteArray out;
    Le32(out, size);
    Le32(out, static_cast<std::uint32_t>(width));
    Le32(out, static_cast<std::uint32_t>(height));
    Le16(out, 1);
    Le16(out, static_cast<std::uint32_t>(bits));
    out.append(QByteArray(static_cast<qsizetype>(size) - 16, '\0'));
    return out;
}

QByteArray BmpBomb(std::uint32_t headerSize)
{
    QByteArray out("BM", 2);
    Le32(out, 14 + headerSize + 16);
    Le32(out, 0);
    Le32(out, 14 + headerSize);
    out.append(BmpInfoHeader(headerSize, kHuge, kHuge, 24));
    out.append(QByteArray(16, '\x7F'));
    return out;
}

QByteArray GifBomb()
{
    QByteArray out("GIF89a", 6);
    Le16(out, kHuge16);
    Le16(out, kHuge16);
    out.append("\x80\x00\x00", 3); // two-colour global table
    out.append(QByteArray("\x00\x00\x00\xFF\xFF\xFF", 6));
    out.append('\x2C');
    Le16(out, 0);
    Le16(out, 0);
    Le16(out, kHuge16);
    Le16(out, kHuge16);
    out.append('\0');
    out.append("\x02\x02\x4C\x01\x00\x3B", 6); // a few codes, then the trailer
    return out;
}

QByteArray TiffBomb()
{
    // Little-endian, one directory of 9 entries, one strip of 8 bytes.
    QByteArray out("II*\0", 4);
    Le32(out, 8);
    Le16(out, 9);
    const auto entry = [&out](std::uint32_t tag, std::uint32_t type, std::uint32_t value) {
        Le16(out, tag);
        Le16(out, type);
        Le32(out, 1);
        if (type == 3) {
            Le16(out, value);
            Le16(out, 0);
        } else {
            Le32(out, value);
        }
    };
    const std::uint32_t strip = 8 + 2 + 9 * 12 + 4;
    entry(256, 4, kHuge); // ImageWidth
    entry(257, 4, kHuge); // ImageLength
    entry(258, 3, 8);     // BitsPerSample
    entry(259, 3, 1);     // no compression
    entry(262, 3, 1);     // black is zero
    entry(273, 4, strip); // StripOffsets
    entry(277, 3, 1);     // SamplesPerPixel
    entry(278, 4, kHuge); // RowsPerStrip
    entry(279, 4, 8);     // StripByteCounts
    Le32(out, 0);
    out.append(QByteArray(8, '\x40'));
    return out;
}

QByteArray TgaBomb()
{
    QByteArray out(12, '\0');
    out[2] = 2; // uncompressed true colour
    Le16(out, kHuge16);
    Le16(out, kHuge16);
    out.append('\x18');
    out.append('\0');
    out.append(QByteArray(64, '\x55'));
    return out;
}

QByteArray PsdBomb()
{
    QByteArray out("8BPS", 4);
    Be16(out, 1);
    out.append(QByteArray(6, '\0'));
    Be16(out, 3);
    Be32(out, 30000); // the largest a PSD may declare
    Be32(out, 30000);
    Be16(out, 8);
    Be16(out, 3);
    Be32(out, 0);
    Be32(out, 0);
    Be32(out, 0);
    Be16(out, 0);
    out.append(QByteArray(64, '\0'));
    return out;
}

QByteArray IcoBomb()
{
    // One entry whose bitmap header declares the huge size.
    QByteArray out;
    Le16(out, 0);
    Le16(out, 1);
    Le16(out, 1);
    out.append('\0'); // 256 wide
    out.append('\0'); // 256 high
    out.append('\0');
    out.append('\0');
    Le16(out, 1);
    Le16(out, 32);
    Le32(out, 40 + 64);
    Le32(out, 22);
    out.append(BmpInfoHeader(40, kHuge, 2 * kHuge, 32));
    out.append(QByteArray(64, '\0'));
    return out;
}

QByteArray PcxBomb()
{
    QByteArray out(128, '\0');
    out[0] = 0x0A;
    out[1] = 5;
    out[2] = 1;
    out[3] = 8;
    out[8] = static_cast<char>(0xFE); // xmax, ymax 65534
    out[9] = static_cast<char>(0xFF);
    out[10] = static_cast<char>(0xFE);
    out[11] = static_cast<char>(0xFF);
    out[65] = 3;
    out[66] = static_cast<char>(0xFF);
    out[67] = static_cast<char>(0xFF);
    out.append(QByteArray(64, '\xC1'));
    return out;
}

QByteArray RasBomb()
{
    QByteArray out;
    Be32(out, 0x59A66A95);
    Be32(out, kHuge);
    Be32(out, kHuge);
    Be32(out, 24);
    Be32(out, 0);
    Be32(out, 1); // standard
    Be32(out, 0);
    Be32(out, 0);
    out.append(QByteArray(64, '\0'));
    return out;
}

QByteArray CutBomb()
{
    QByteArray out;
    Le16(out, kHuge16);
    Le16(out, kHuge16);
    Le16(out, 0);
    out.append(QByteArray(64, '\0'));
    return out;
}

QByteArray JngBomb()
{
    QByteArray out("\x8BJNG\r\n\x1a\n", 8);
    QByteArray jhdr;
    Be32(jhdr, kHuge);
    Be32(jhdr, kHuge);
    jhdr.append("\x0A\x08\x08\x00\x00\x00\x00\x00", 8);
    Chunk(out, "JHDR", jhdr);
    // The embedded JPEG declares the same size: that is what gets decoded.
    Chunk(out, "JDAT", JpegBomb());
    Chunk(out, "IEND", {});
    return out;
}

QByteArray ExrBomb()
{
    // Magic, version 2, then the attributes every header holds.
    QByteArray out("\x76\x2F\x31\x01", 4);
    Le32(out, 2);
    const auto attribute = [&out](const char* name, const char* type, const QByteArray& value) {
        out.append(name, static_cast<qsizetype>(std::strlen(name)) + 1);
        out.append(type, static_cast<qsizetype>(std::strlen(type)) + 1);
        Le32(out, static_cast<std::uint32_t>(value.size()));
        out.append(value);
    };
    QByteArray channels;
    for (const char* name : {"B", "G", "R"}) {
        channels.append(name, 2);
        Le32(channels, 1); // half
        Le32(channels, 0);
        Le32(channels, 1);
        Le32(channels, 1);
    }
    channels.append('\0');
    QByteArray window;
    for (const std::uint32_t v : {0u, 0u, kHuge - 1, kHuge - 1})
        Le32(window, v);
    attribute("channels", "chlist", channels);
    attribute("compression", "compression", QByteArray(1, '\0'));
    attribute("dataWindow", "box2i", window);
    attribute("displayWindow", "box2i", window);
    attribute("lineOrder", "lineOrder", QByteArray(1, '\0'));
    attribute("pixelAspectRatio", "float", QByteArray("\x00\x00\x80\x3F", 4));
    attribute("screenWindowCenter", "v2f", QByteArray(8, '\0'));
    attribute("screenWindowWidth", "float", QByteArray("\x00\x00\x80\x3F", 4));
    out.append('\0');
    out.append(QByteArray(64, '\0'));
    return out;
}

QByteArray SgiBomb()
{
    QByteArray out;
    Be16(out, 474);
    out.append('\0'); // verbatim
    out.append('\1'); // one byte a channel
    Be16(out, 3);
    Be16(out, 30000);
    Be16(out, 30000);
    Be16(out, 4);
    Be32(out, 0);
    Be32(out, 255);
    out.append(QByteArray(512 - out.size(), '\0'));
    out.append(QByteArray(100, '\x10'));
    return out;
}

QByteArray DdsBomb()
{
    // An uncompressed 24-bit surface of 30000 x 30000, one mipmap level.
    QByteArray out("DDS ", 4);
    Le32(out, 124);
    Le32(out, 0x100F); // caps, height, width, pitch, pixel format
    Le32(out, 30000);  // height
    Le32(out, 30000);  // width
    Le32(out, 3 * 30000);
    Le32(out, 0);
    Le32(out, 1);
    out.append(QByteArray(44, '\0'));
    Le32(out, 32); // pixel format: size, flags (RGB), bits, masks
    Le32(out, 0x40);
    Le32(out, 0);
    Le32(out, 24);
    Le32(out, 0x00FF0000);
    Le32(out, 0x0000FF00);
    Le32(out, 0x000000FF);
    Le32(out, 0);
    Le32(out, 0x1000);
    out.append(QByteArray(16, '\0'));
    out.append(QByteArray(256, '\x33'));
    return out;
}

QByteArray IffBomb()
{
    QByteArray bmhd;
    Be16(bmhd, kHuge16);
    Be16(bmhd, kHuge16);
    Be32(bmhd, 0);
    bmhd.append('\x18'); // 24 planes
    bmhd.append('\0');
    bmhd.append('\0');
    bmhd.append('\0');
    Be16(bmhd, 0);
    bmhd.append('\1');
    bmhd.append('\1');
    Be16(bmhd, kHuge16);
    Be16(bmhd, kHuge16);
    QByteArray body("ILBM", 4);
    body.append("BMHD", 4);
    Be32(body, static_cast<std::uint32_t>(bmhd.size()));
    body.append(bmhd);
    body.append("BODY", 4);
    Be32(body, 64);
    body.append(QByteArray(64, '\x01'));
    QByteArray out("FORM", 4);
    Be32(out, static_cast<std::uint32_t>(body.size()));
    out.append(body);
    return out;
}

QByteArray MngBomb()
{
    // A frame of 30000 x 30000 holding one palette PNG image of that size,
    // with the first rows of its data.
    QByteArray out("\x8AMNG\r\n\x1a\n", 8);
    QByteArray mhdr;
    Be32(mhdr, 30000);
    Be32(mhdr, 30000);
    for (int field = 0; field < 4; ++field)
        Be32(mhdr, 0);
    Be32(mhdr, 1);
    Chunk(out, "MHDR", mhdr);
    QByteArray ihdr;
    Be32(ihdr, 30000);
    Be32(ihdr, 30000);
    ihdr.append("\x08\x03\x00\x00\x00", 5);
    Chunk(out, "IHDR", ihdr);
    Chunk(out, "PLTE", QByteArray("\xFF\x00\x00\x00\xFF\x00\x00\x00\xFF", 9));
    Chunk(out, "IDAT", qCompress(QByteArray(4 * 30001, '\0')).mid(4)); // zlib stream without Qt's length
    Chunk(out, "IEND", {});
    Chunk(out, "MEND", {});
    return out;
}

QByteArray WbmpBomb()
{
    // Type 0, no extension, 65535 x 65535 as 7-bit groups.
    return QByteArray("\x00\x00\x83\xFF\x7F\x83\xFF\x7F", 8) + QByteArray(64, '\xAA');
}

// An 8 x 8 grey code stream as OpenJPEG 2.5 writes it, its image and its
// one tile made to measure 30000 x 30000.
QByteArray HugeCodestream()
{
    QByteArray out = QByteArray::fromHex(
        "ff4fff51002900000000000800000008000000000000000000000008000000080000000000000000"
        "00010f0101ff52000c00000001000304040001ff5c000d4080888890888890888890ff640025000143"
        "726561746564206279204f70656e4a5045472076657273696f6e20322e352e30ff90000a00000000"
        "00170001ff93c03f302008cf808080ffd9");
    for (const int at : {8, 12, 24, 28}) { // Xsiz, Ysiz, XTsiz, YTsiz
        QByteArray value;
        Be32(value, 30000);
        out.replace(at, 4, value);
    }
    return out;
}

QByteArray J2kBomb() { return HugeCodestream(); }

QByteArray Jp2Bomb()
{
    const auto box = [](const char* type, const QByteArray& data) {
        QByteArray out;
        Be32(out, 8 + static_cast<std::uint32_t>(data.size()));
        out.append(type, 4);
        out.append(data);
        return out;
    };
    QByteArray ihdr;
    Be32(ihdr, 30000);
    Be32(ihdr, 30000);
    Be16(ihdr, 1);
    ihdr.append("\x07\x07\x00\x00", 4);
    QByteArray colr("\x01\x00\x00", 3);
    Be32(colr, 17); // grey
    QByteArray ftyp("jp2 ", 4);
    Be32(ftyp, 0);
    ftyp.append("jp2 ", 4);
    return box("jP  ", QByteArray("\x0D\x0A\x87\x0A", 4)) + box("ftyp", ftyp)
        + box("jp2h", box("ihdr", ihdr) + box("colr", colr)) + box("jp2c", HugeCodestream());
}

QByteArray PictBomb()
{
    QByteArray out(512, '\0');
    Be16(out, 0);
    Be16(out, 0); // frame: top, left, bottom, right
    Be16(out, 0);
    Be16(out, 30000);
    Be16(out, 30000);
    out.append("\x00\x11\x02\xFF", 4); // version 2
    out.append("\x0C\x00", 2);          // header opcode
    Be16(out, 0xFFFE);
    Be16(out, 0);
    Be32(out, 0x00480000);
    Be32(out, 0x00480000);
    Be16(out, 0);
    Be16(out, 0);
    Be16(out, 30000);
    Be16(out, 30000);
    Be32(out, 0);
    // DirectBitsRect over the whole frame.
    out.append("\x00\x9A", 2);
    Be32(out, 0x000000FF);
    Be16(out, 0x8000 | 4 * 30000 / 2); // rowBytes (clipped by the format's 14 bits)
    Be16(out, 0);
    Be16(out, 0);
    Be16(out, 30000);
    Be16(out, 30000);
    out.append(QByteArray(64, '\0'));
    return out;
}

QByteArray TextBomb(const char* text) { return QByteArray(text) + QByteArray(64, '0'); }

// --------------------------------------------------------- good files

QByteArray RunLengthRow(const uchar* row, int length)
{
    QByteArray out;
    for (int i = 0; i < length;) {
        int run = 1;
        while (i + run < length && run < 128 && row[i + run] == row[i])
            ++run;
        if (run > 1) {
            out.append(static_cast<char>(257 - run));
            out.append(static_cast<char>(row[i]));
            i += run;
            continue;
        }
        int literal = 1;
        while (i + literal < length && literal < 128
               && !(i + literal + 1 < length && row[i + literal] == row[i + literal + 1]))
            ++literal;
        out.append(static_cast<char>(literal - 1));
        out.append(reinterpret_cast<const char*>(row + i), literal);
        i += literal;
    }
    return out;
}

// An X11 bitmap of the image, dark pixels set.
QByteArray XbmOf(const QImage& image)
{
    QByteArray out = QByteArray("#define cut_width ") + QByteArray::number(image.width())
        + "\n#define cut_height " + QByteArray::number(image.height()) + "\nstatic char cut_bits[] = {\n";
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); x += 8) {
            int bits = 0;
            for (int b = 0; b < 8 && x + b < image.width(); ++b)
                bits |= (qGray(image.pixel(x + b, y)) < 128 ? 1 : 0) << b;
            out += QByteArray(" 0x") + QByteArray::number(bits, 16).rightJustified(2, '0') + ",";
        }
        out += "\n";
    }
    return out + "};\n";
}

struct CutSource {
    const char* Stem;
    const char* Extension;
    std::function<QByteArray()> Good;
};

std::vector<CutSource> CutSources()
{
    return {
        {"jpeg", "jpg", [] { return EncodeWithCodec(Picture(), "jpg"); }},
        {"png", "png", [] { return EncodeWithCodec(Picture(), "png"); }},
        {"gif", "gif", [] { return EncodeWithCodec(Picture(), "gif"); }},
        {"tiff", "tif", [] { return EncodeWithCodec(Picture(), "tif"); }},
        {"bmp", "bmp", [] { return EncodeWithCodec(Picture(), "bmp"); }},
        {"tga", "tga", [] { return EncodeWithCodec(Picture(), "tga"); }},
        {"psd", "psd", [] { return PsdOf(Picture(), false); }},
        {"psd-rle", "psd", [] { return PsdOf(Picture(), true); }},
        // FreeImage's reader never returns from an X bitmap cut short.
        {"xbm", "xbm", [] { return XbmOf(Picture()); }},
    };
}

std::vector<BrokenInput> MakeTable()
{
    std::vector<BrokenInput> table;
    const auto add = [&table](BrokenKind kind, QString name, Expect expected, QString reason, bool prefix,
                              std::function<QByteArray()> bytes) {
        table.push_back({kind, name, expected, std::move(reason), prefix,
                         [name, bytes = std::move(bytes)](const QString& folder) {
                             const QByteArray content = bytes();
                             return !(content.isEmpty() && !name.startsWith(QLatin1String("empty")))
                                 && Write(folder + QLatin1Char('/') + name, content);
                         }});
    };
    const QString cannotDecode = QStringLiteral("cannot decode the image");

    for (const char* extension : {"jpg", "png", "gif", "tif", "bmp", "tga", "psd"})
        add(BrokenKind::Empty, QStringLiteral("empty.%1").arg(extension), Expect::Fails, QStringLiteral("empty file"),
            false, [] { return QByteArray(); });

    // Cut inside the header (nothing to decode) and later (a decoder may
    // still make a picture of what is there, or refuse).
    for (const CutSource& cut : CutSources()) {
        for (const int permille : {-1, -8, -17, -40, 250, 500, 900, 999}) {
            const bool early = permille < 0;
            const QString name = early ? QStringLiteral("cut-%1-at-%2.%3").arg(cut.Stem).arg(-permille).arg(cut.Extension)
                                       : QStringLiteral("cut-%1-at-%2permille.%3").arg(cut.Stem).arg(permille).arg(cut.Extension);
            add(BrokenKind::Cut, name, early ? Expect::Fails : Expect::LoadsOrFails, cannotDecode, true,
                [good = cut.Good, permille] {
                    const QByteArray bytes = good();
                    const qsizetype length = permille < 0 ? -permille : bytes.size() * permille / 1000;
                    return bytes.left(std::max<qsizetype>(1, std::min(length, bytes.size() - 1)));
                });
        }
    }

    std::uint32_t seed = 1;
    for (const char* extension : {"jpg", "png", "gif", "tif", "bmp", "tga", "psd", "ico", "pcx"})
        add(BrokenKind::Noise, QStringLiteral("noise.%1").arg(extension), Expect::Fails, cannotDecode, true,
            [s = seed++] { return Noise(s, 4096); });
    add(BrokenKind::Noise, QStringLiteral("noise.qqq"), Expect::Fails, QStringLiteral("unrecognised image format"),
        false, [] { return Noise(99, 4096); });

    add(BrokenKind::Swapped, QStringLiteral("png-inside.jpg"), Expect::Loads, {}, false,
        [] { return QtEncoded(Picture(), "PNG"); });
    add(BrokenKind::Swapped, QStringLiteral("jpeg-inside.png"), Expect::Loads, {}, false,
        [] { return QtEncoded(Picture(), "JPEG"); });
    add(BrokenKind::Swapped, QStringLiteral("gif-inside.bmp"), Expect::Loads, {}, false,
        [] { return EncodeWithCodec(Picture(), "gif"); });
    // Reading any TIFF makes libtiff complain about FreeImage's EXIF tags.
    add(BrokenKind::Swapped, QStringLiteral("tiff-inside.jpg"), Expect::Loads, {}, false,
        [] { return EncodeWithCodec(Picture(), "tif"); });

    for (const ImageBomb& bomb : ImageBombs())
        add(BrokenKind::TooLarge, QString::fromLatin1(bomb.FileName), Expect::Fails, QStringLiteral("image too large"),
            false, bomb.Bytes);

    table.push_back({BrokenKind::NotAFile, QStringLiteral("fifo.png"), Expect::Fails, QStringLiteral("not a regular file"),
                     false, [](const QString& folder) {
                         return ::mkfifo(QFile::encodeName(folder + QStringLiteral("/fifo.png")).constData(), 0644) == 0;
                     }});
    table.push_back({BrokenKind::NotAFile, QStringLiteral("socket.jpg"), Expect::Fails, QStringLiteral("not a regular file"),
                     false, [](const QString& folder) {
                         const QByteArray path = QFile::encodeName(folder + QStringLiteral("/socket.jpg"));
                         sockaddr_un address {};
                         if (path.size() >= static_cast<qsizetype>(sizeof address.sun_path))
                             return false;
                         address.sun_family = AF_UNIX;
                         std::memcpy(address.sun_path, path.constData(), static_cast<std::size_t>(path.size()));
                         const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
                         if (fd < 0)
                             return false;
                         // The socket file stays after the descriptor is closed.
                         const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
                         ::close(fd);
                         return bound;
                     }});
    table.push_back({BrokenKind::NotAFile, QStringLiteral("dangling.jpg"), Expect::Fails,
                     QStringLiteral("broken symbolic link"), false, [](const QString& folder) {
                         return QFile::link(folder + QStringLiteral("/gone.jpg"), folder + QStringLiteral("/dangling.jpg"));
                     }});

    const auto png = [] { return QtEncoded(Picture(), "PNG"); };
    add(BrokenKind::OddName, QStringLiteral("name with  spaces.png"), Expect::Loads, {}, false, png);
    add(BrokenKind::OddName, QStringLiteral("日本語の写真.png"), Expect::Loads, {}, false, png);
    add(BrokenKind::OddName, QStringLiteral("Ελληνικά και русский.png"), Expect::Loads, {}, false, png);
    add(BrokenKind::OddName, QStringLiteral("-leading-dash.png"), Expect::Loads, {}, false, png);
    add(BrokenKind::OddName, QStringLiteral("--").append(QStringLiteral("help.png")), Expect::Loads, {}, false, png);
    add(BrokenKind::OddName, QString(246, QLatin1Char('a')) + QStringLiteral(".png"), Expect::Loads, {}, false, png);
    // 250 bytes in UTF-8: 82 three-byte characters and ".png".
    add(BrokenKind::OddName, QString(82, QChar(0x5199)) + QStringLiteral(".png"), Expect::Loads, {}, false, png);
    add(BrokenKind::OddName, QStringLiteral("no_dot_at_all"), Expect::Loads, {}, false, png);
    return table;
}

} // namespace

const char* KindName(BrokenKind kind)
{
    switch (kind) {
    case BrokenKind::Empty: return "Empty";
    case BrokenKind::Cut: return "Cut";
    case BrokenKind::Noise: return "Noise";
    case BrokenKind::Swapped: return "Swapped";
    case BrokenKind::TooLarge: return "TooLarge";
    case BrokenKind::NotAFile: return "NotAFile";
    case BrokenKind::OddName: return "OddName";
    }
    return "Unknown";
}

bool BrokenInput::ReasonMatches(const QString& reason) const
{
    if (reason.isEmpty())
        return false;
    return ReasonIsPrefix ? reason.startsWith(Reason) : reason == Reason;
}

void PrintTo(const BrokenInput& input, std::ostream* os)
{
    *os << KindName(input.Kind) << " " << input.Name.toStdString();
}

const std::vector<BrokenInput>& BrokenInputs()
{
    static const std::vector<BrokenInput> table = MakeTable();
    return table;
}

std::vector<BrokenInput> BrokenInputsOf(BrokenKind kind)
{
    std::vector<BrokenInput> out;
    for (const BrokenInput& input : BrokenInputs()) {
        if (input.Kind == kind)
            out.push_back(input);
    }
    return out;
}

std::vector<BrokenInput> MakeBrokenInputs(const QString& folder, const std::vector<BrokenInput>& inputs)
{
    std::vector<BrokenInput> made;
    for (const BrokenInput& input : inputs) {
        if (input.Make(folder))
            made.push_back(input);
    }
    return made;
}

std::vector<ImageBomb> ImageBombs()
{
    return {
        // Formats whose FreeImage reader can read the header alone.
        {"png", "huge.png", [] { return PngBomb(); }},
        {"jpeg", "huge.jpg", [] { return JpegBomb(); }},
        {"bmp", "huge.bmp", [] { return BmpBomb(40); }},
        {"bmp-v5", "huge-v5.bmp", [] { return BmpBomb(124); }},
        {"dib", "huge.dib", [] { return BmpInfoHeader(40, kHuge, kHuge, 24) + QByteArray(16, '\0'); }},
        {"tiff", "huge.tif", [] { return TiffBomb(); }},
        {"tga", "huge.tga", [] { return TgaBomb(); }},
        {"psd", "huge.psd", [] { return PsdBomb(); }},
        {"ico", "huge.ico", [] { return IcoBomb(); }},
        {"pcx", "huge.pcx", [] { return PcxBomb(); }},
        {"ras", "huge.ras", [] { return RasBomb(); }},
        {"cut", "huge.cut", [] { return CutBomb(); }},
        {"jng", "huge.jng", [] { return JngBomb(); }},
        {"pbm", "huge.pbm", [] { return TextBomb("P4\n100000 100000\n"); }},
        {"pgm", "huge.pgm", [] { return TextBomb("P5\n100000 100000\n255\n"); }},
        {"ppm", "huge.ppm", [] { return TextBomb("P6\n100000 100000\n255\n"); }},
        {"ppm-plain", "huge-plain.ppm", [] { return TextBomb("P3\n100000 100000\n255\n"); }},
        {"xpm", "huge.xpm", [] { return TextBomb("/* XPM */\nstatic char *huge[] = {\n\"100000 100000 1 1\",\n\". c #000000\",\n\""); }},
        {"hdr", "huge.hdr", [] { return TextBomb("#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 100000 +X 100000\n"); }},
        {"pfm", "huge.pfm", [] { return TextBomb("PF\n100000 100000\n-1.0\n"); }},
        {"exr", "huge.exr", [] { return ExrBomb(); }},
        // Formats whose FreeImage reader decodes everything before the size
        // is known: the loader reads their headers itself.
        {"gif", "huge.gif", [] { return GifBomb(); }},
        {"wbmp", "huge.wbmp", [] { return WbmpBomb(); }},
        {"sgi", "huge.sgi", [] { return SgiBomb(); }},
        {"sgi-as-png", "evil.png", [] { return SgiBomb(); }},
        {"dds", "huge.dds", [] { return DdsBomb(); }},
        {"iff", "huge.iff", [] { return IffBomb(); }},
        {"lbm", "huge.lbm", [] { return IffBomb(); }},
        {"mng", "huge.mng", [] { return MngBomb(); }},
        {"xbm", "huge.xbm", [] { return TextBomb("#define huge_width 100000\n#define huge_height 100000\nstatic char huge_bits[] = {\n"); }},
        {"j2k", "huge.j2k", [] { return J2kBomb(); }},
        {"jp2", "huge.jp2", [] { return Jp2Bomb(); }},
        {"pict", "huge.pct", [] { return PictBomb(); }},
    };
}

QByteArray PsdOf(const QImage& source, bool runLength)
{
    const QImage image = source.convertToFormat(QImage::Format_RGB888);
    const int width = image.width();
    const int height = image.height();
    QByteArray out("8BPS", 4);
    Be16(out, 1);
    out.append(QByteArray(6, '\0'));
    Be16(out, 3);
    Be32(out, static_cast<std::uint32_t>(height));
    Be32(out, static_cast<std::uint32_t>(width));
    Be16(out, 8);
    Be16(out, 3); // RGB
    Be32(out, 0); // colour mode data
    Be32(out, 0); // image resources
    Be32(out, 0); // layers and masks
    Be16(out, runLength ? 1 : 0);
    std::vector<QByteArray> rows;
    for (int channel = 0; channel < 3; ++channel) {
        for (int y = 0; y < height; ++y) {
            QByteArray plane(width, '\0');
            const uchar* line = image.constScanLine(y);
            for (int x = 0; x < width; ++x)
                plane[x] = static_cast<char>(line[3 * x + channel]);
            rows.push_back(runLength ? RunLengthRow(reinterpret_cast<const uchar*>(plane.constData()), width)
                                     : plane);
        }
    }
    if (runLength) {
        for (const QByteArray& row : rows)
            Be16(out, static_cast<std::uint32_t>(row.size()));
    }
    for (const QByteArray& row : rows)
        out.append(row);
    return out;
}

QByteArray PcxOf(const QImage& source)
{
    const QImage image = source.convertToFormat(QImage::Format_RGB888);
    const int width = image.width();
    const int height = image.height();
    const int bytesPerLine = (width + 1) & ~1; // even, as readers expect
    QByteArray out(128, '\0');
    out[0] = 0x0A; // ZSoft
    out[1] = 5;    // version 3.0
    out[2] = 1;    // run-length coded
    out[3] = 8;    // bits per sample in a plane
    const auto put16 = [&out](int at, int v) {
        out[at] = static_cast<char>(v & 0xFF);
        out[at + 1] = static_cast<char>((v >> 8) & 0xFF);
    };
    put16(8, width - 1);
    put16(10, height - 1);
    put16(12, 72);
    put16(14, 72);
    out[65] = 3; // planes: red, green, blue
    put16(66, bytesPerLine);
    put16(68, 1);
    for (int y = 0; y < height; ++y) {
        const uchar* line = image.constScanLine(y);
        for (int channel = 0; channel < 3; ++channel) {
            // A run is at most 63 bytes and never crosses a plane's end; a
            // lone byte of 0xC0 or more needs a run of one.
            int x = 0;
            while (x < bytesPerLine) {
                const auto at = [&](int i) { return i < width ? line[3 * i + channel] : uchar{0}; };
                const uchar value = at(x);
                int run = 1;
                while (x + run < bytesPerLine && run < 63 && at(x + run) == value)
                    ++run;
                if (run > 1 || value >= 0xC0)
                    out.append(static_cast<char>(0xC0 | run));
                out.append(static_cast<char>(value));
                x += run;
            }
        }
    }
    return out;
}

const OutputFormatEntry& OutputFormatNamed(const char* name)
{
    for (const OutputFormatEntry& entry : OutputFormats()) {
        if (std::strcmp(entry.Name, name) == 0)
            return entry;
    }
    std::fprintf(stderr, "no output format named %s\n", name);
    std::abort();
}

QByteArray EncodeWithCodec(const QImage& image, const char* format)
{
    QTemporaryDir dir;
    if (!dir.isValid())
        return {};
    Surface surface;
    surface.Resize(image.width(), image.height());
    surface.Image() = image.convertToFormat(QImage::Format_RGB32);
    const QString path = dir.filePath(QStringLiteral("encoded"));
    if (SaveThumbnail(surface, path, OutputFormatNamed(format)) != kSaveWritten)
        return {};
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace pixquill::test
