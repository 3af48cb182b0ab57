// pixquill_grid_heic OUT.heic [TILES] [BITS]: writes a HEIC whose picture is
// a TILES x TILES grid (default 64) of one shared 256 x 256 HEVC tile, every
// tile item's data the same coded bytes: a small file that
// declares 16,384 x 16,384 pixels by default. libheif encodes the tile; the
// grid item around it is written here, as libheif 1.15 has no call for it.

#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include <QByteArray>
#include <QFile>
#include <QImage>

#include <libheif/heif.h>

namespace {

QByteArray Bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

QByteArray U16(std::uint32_t v) { return Bytes({int((v >> 8) & 0xFF), int(v & 0xFF)}); }
QByteArray U32(std::uint32_t v) { return U16(v >> 16) + U16(v & 0xFFFF); }

QByteArray Box(const char* type, const QByteArray& body)
{
    return U32(std::uint32_t(8 + body.size())) + QByteArray(type, 4) + body;
}

// A full box: version and flags first.
QByteArray FullBox(const char* type, int version, std::uint32_t flags, const QByteArray& body)
{
    return Box(type, U32(std::uint32_t(version) << 24 | flags) + body);
}

// The child box of `type` directly inside [from, to) of file.
QByteArray Child(const QByteArray& file, qsizetype from, qsizetype to, const char* type, qsizetype* start = nullptr)
{
    while (from + 8 <= to) {
        const auto* p = reinterpret_cast<const unsigned char*>(file.constData() + from);
        const qsizetype size = qsizetype(std::uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]);
        if (size < 8 || from + size > to)
            break;
        if (std::memcmp(p + 4, type, 4) == 0) {
            if (start)
                *start = from;
            return file.mid(from, size);
        }
        from += size;
    }
    return {};
}

// One 256 x 256 tile, coded by libheif: its hvcC box and its coded data.
bool EncodeTile(QByteArray& hvcC, QByteArray& data)
{
    QImage picture(256, 256, QImage::Format_RGB888);
    for (int y = 0; y < 256; ++y) {
        for (int x = 0; x < 256; ++x)
            picture.setPixel(x, y, qRgb(x, y, (x + y) / 2));
    }
    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    if (heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder).code != heif_error_Ok)
        return false;
    heif_encoder_set_lossy_quality(encoder, 80);
    heif_image* image = nullptr;
    heif_image_create(256, 256, heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image);
    heif_image_add_plane(image, heif_channel_interleaved, 256, 256, 8);
    int stride = 0;
    std::uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    for (int y = 0; y < 256; ++y)
        std::memcpy(plane + y * stride, picture.constScanLine(y), 3 * 256);
    heif_context_encode_image(context, image, encoder, nullptr, nullptr);
    QByteArray file;
    heif_writer writer{1, [](heif_context*, const void* bytes, size_t size, void* out) {
                           static_cast<QByteArray*>(out)->append(static_cast<const char*>(bytes), qsizetype(size));
                           return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
                       }};
    heif_context_write(context, &writer, &file);
    heif_image_release(image);
    heif_encoder_release(encoder);
    heif_context_free(context);

    // A file of one image: its hvcC among the properties, its data the
    // whole of mdat.
    qsizetype metaAt = 0;
    qsizetype mdatAt = 0;
    const QByteArray meta = Child(file, 0, file.size(), "meta", &metaAt);
    const QByteArray mdat = Child(file, 0, file.size(), "mdat", &mdatAt);
    const QByteArray iprp = Child(meta, 12, meta.size(), "iprp");
    const QByteArray ipco = Child(iprp, 8, iprp.size(), "ipco");
    hvcC = Child(ipco, 8, ipco.size(), "hvcC");
    data = mdat.mid(8);
    return !hvcC.isEmpty() && !data.isEmpty();
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: pixquill_grid_heic OUT.heic [TILES]\n");
        return 2;
    }
    const int tiles = argc > 2 ? std::atoi(argv[2]) : 64;
    const std::uint32_t side = std::uint32_t(tiles) * 256;
    if (tiles < 1 || tiles > 255 || side > 65535) {
        std::fprintf(stderr, "TILES: 1 to 255\n");
        return 2;
    }
    QByteArray hvcC;
    QByteArray tile;
    if (!EncodeTile(hvcC, tile)) {
        std::fprintf(stderr, "libheif could not encode the tile\n");
        return 1;
    }
    // Item 1 the grid (primary); items 2 on its tiles, every one's data the
    // same bytes of the file (libheif refuses one item referenced again and
    // again).
    const int count = tiles * tiles;
    const QByteArray grid = Bytes({0, 0, tiles - 1, tiles - 1}) + U16(side) + U16(side);
    const auto metaWith = [&](std::uint32_t dataAt) {
        const QByteArray hdlr = FullBox("hdlr", 0, 0, U32(0) + QByteArray("pict", 4) + QByteArray(13, '\0'));
        const QByteArray pitm = FullBox("pitm", 0, 0, U16(1));
        // Version 0, 4-byte offsets and lengths, no base offset.
        QByteArray locations = Bytes({0x44, 0x00}) + U16(std::uint32_t(count + 1)) + U16(1) + U16(0) + U16(1)
                               + U32(dataAt) + U32(std::uint32_t(grid.size()));
        QByteArray infos = FullBox("infe", 2, 0, U16(1) + U16(0) + "grid" + QByteArray(1, '\0'));
        QByteArray to;
        QByteArray associations = U16(1) + Bytes({1, 3});
        for (int i = 0; i < count; ++i) {
            const auto id = std::uint32_t(2 + i);
            locations += U16(id) + U16(0) + U16(1) + U32(dataAt + std::uint32_t(grid.size()))
                         + U32(std::uint32_t(tile.size()));
            infos += FullBox("infe", 2, 1, U16(id) + U16(0) + "hvc1" + QByteArray(1, '\0'));
            to += U16(id);
            // hvcC (1, essential) and the tile's size (2).
            associations += U16(id) + Bytes({2, 0x81, 2});
        }
        const QByteArray iloc = FullBox("iloc", 0, 0, locations);
        const QByteArray iinf = FullBox("iinf", 0, 0, U16(std::uint32_t(count + 1)) + infos);
        const QByteArray iref = FullBox("iref", 0, 0, Box("dimg", U16(1) + U16(std::uint32_t(count)) + to));
        const QByteArray ipco = Box("ipco", hvcC + FullBox("ispe", 0, 0, U32(256) + U32(256))
                                                + FullBox("ispe", 0, 0, U32(side) + U32(side)));
        const QByteArray ipma = FullBox("ipma", 0, 0, U32(std::uint32_t(count + 1)) + associations);
        return FullBox("meta", 0, 0, hdlr + pitm + iloc + iinf + iref + Box("iprp", ipco + ipma));
    };
    const QByteArray ftyp = Box("ftyp", QByteArray("heic", 4) + U32(0) + "mif1heic");
    const std::uint32_t dataAt = std::uint32_t(ftyp.size() + metaWith(0).size() + 8);
    const QByteArray file = ftyp + metaWith(dataAt) + Box("mdat", grid + tile);
    QFile out(QString::fromLocal8Bit(argv[1]));
    if (!out.open(QIODevice::WriteOnly) || out.write(file) != file.size()) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    std::printf("%s: %d x %d tiles, %u x %u pixels, %lld bytes\n", argv[1], tiles, tiles, side, side,
                static_cast<long long>(file.size()));
    return 0;
}
