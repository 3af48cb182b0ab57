// Draws every picture of the windows into a folder:
//   pixquill_draw_pictures <output folder>
// The committed files under resources/pictures/ came from this program; run it
// again after changing a drawing and commit what it wrote. Text is drawn with
// whatever font the system hands out for Arial, so a machine with other fonts
// gives slightly different glyphs.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <QByteArray>
#include <QColor>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygon>
#include <QString>

namespace {

const QColor kBody(0x80, 0xA0, 0xC0);
const QColor kHeader(0xE1, 0xE1, 0xE1);

QString g_outDir;

bool Save(const QImage& image, const QString& name, const char* format = nullptr, int quality = -1)
{
    const QString path = QDir(g_outDir).filePath(name);
    if (!image.save(path, format, quality)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

QColor Mix(const QColor& a, const QColor& b, double t)
{
    return QColor::fromRgbF(float(a.redF() + (b.redF() - a.redF()) * t),
                            float(a.greenF() + (b.greenF() - a.greenF()) * t),
                            float(a.blueF() + (b.blueF() - a.blueF()) * t));
}

QFont ArialBold(double pixelSize)
{
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    font.setBold(true);
    font.setPixelSize(int(pixelSize));
    return font;
}

// The frame's shade at a distance d (0 = outer edge, 19 = inner edge) from the
// window's edge: #0088CC lightening to #13A2EA at the seventh pixel, then
// darkening to #003B59.
QColor FrameShade(int d)
{
    const QColor outer(0x00, 0x88, 0xCC);
    const QColor light(0x13, 0xA2, 0xEA);
    const QColor inner(0x00, 0x3B, 0x59);
    if (d <= 6)
        return Mix(outer, light, d / 6.0);
    return Mix(light, inner, (d - 6) / 13.0);
}

QImage DrawSkin()
{
    const int w = 716;
    const int h = 391;
    const int frame = 20;
    QImage skin(w, h, QImage::Format_RGB888);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            // Distance to the nearest outer edge; taking the minimum mitres the corners.
            const int d = std::min({x, y, w - 1 - x, h - 1 - y});
            QColor c;
            if (d < frame)
                c = FrameShade(d);
            else if (y <= 94)
                c = kHeader;
            else
                c = kBody;
            skin.setPixelColor(x, y, c);
        }
    }
    return skin;
}

QImage DrawBanner()
{
    QImage banner(468, 60, QImage::Format_RGB32);
    QPainter p(&banner);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    QLinearGradient bg(0, 0, 468, 60);
    bg.setColorAt(0.0, QColor(0x00, 0x2A, 0x44));
    bg.setColorAt(0.55, QColor(0x00, 0x6C, 0xA8));
    bg.setColorAt(1.0, QColor(0x13, 0xA2, 0xEA));
    p.fillRect(banner.rect(), bg);

    // Thin diagonal light streaks for some movement behind the text.
    p.setPen(QPen(QColor(255, 255, 255, 28), 6));
    for (int x = 180; x < 560; x += 34)
        p.drawLine(x, -5, x - 60, 65);

    // The maker's mark: a stylised Z in a rounded square.
    QPainterPath mark;
    mark.addRoundedRect(QRectF(10, 8, 44, 44), 8, 8);
    p.fillPath(mark, QColor(0xF5, 0xA6, 0x23));
    p.setPen(QPen(QColor(0x00, 0x2A, 0x44), 6, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    p.drawPolyline(QPolygon({QPoint(21, 19), QPoint(43, 19), QPoint(21, 41), QPoint(43, 41)}));

    p.setPen(Qt::white);
    p.setFont(ArialBold(34));
    p.drawText(QRect(66, 2, 200, 44), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Zorvex"));
    QFont tag(QStringLiteral("Arial"));
    tag.setStyleHint(QFont::SansSerif);
    tag.setPixelSize(12);
    p.setFont(tag);
    p.setPen(QColor(0xD8, 0xEC, 0xF8));
    p.drawText(QRect(68, 40, 220, 16), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Software for your pictures"));

    // Call to action on the right.
    QPainterPath pill;
    pill.addRoundedRect(QRectF(300, 16, 156, 28), 14, 14);
    p.fillPath(pill, QColor(255, 255, 255, 235));
    p.setPen(QColor(0x00, 0x4A, 0x75));
    p.setFont(ArialBold(13));
    p.drawText(QRectF(300, 16, 156, 28), Qt::AlignCenter, QStringLiteral("zorvex.example \u25B8"));
    return banner;
}

// A 21 x 21 title-bar button: light steel-blue bevelled square with a black glyph.
QImage DrawFormButton(char glyph, bool hover)
{
    const int s = 21;
    QImage img(s, s, QImage::Format_RGB32);
    const QColor face = hover ? QColor(0xD6, 0xE4, 0xF4) : QColor(0xB0, 0xC4, 0xDE);
    const QColor light = hover ? QColor(0xFF, 0xFF, 0xFF) : QColor(0xE8, 0xF0, 0xFA);
    const QColor shade = hover ? QColor(0x7A, 0x92, 0xB2) : QColor(0x5E, 0x76, 0x98);
    img.fill(face);
    QPainter p(&img);
    // Outer dark line, then a two-pixel bevel: light top/left, shade bottom/right.
    p.setPen(QColor(0x20, 0x30, 0x48));
    p.drawRect(0, 0, s - 1, s - 1);
    p.setPen(light);
    p.drawLine(1, 1, s - 3, 1);
    p.drawLine(1, 1, 1, s - 3);
    p.drawLine(2, 2, s - 4, 2);
    p.drawLine(2, 2, 2, s - 4);
    p.setPen(shade);
    p.drawLine(1, s - 2, s - 2, s - 2);
    p.drawLine(s - 2, 1, s - 2, s - 2);
    p.drawLine(2, s - 3, s - 3, s - 3);
    p.drawLine(s - 3, 2, s - 3, s - 3);

    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    switch (glyph) {
    case '?': {
        p.setRenderHint(QPainter::TextAntialiasing);
        p.setPen(Qt::black);
        p.setFont(ArialBold(14));
        p.drawText(QRect(0, 0, s, s), Qt::AlignCenter, QStringLiteral("?"));
        break;
    }
    case '_':
        p.drawRect(6, 13, 9, 2);
        break;
    case 'X': {
        p.setRenderHint(QPainter::Antialiasing);
        QPen pen(Qt::black, 2.2, Qt::SolidLine, Qt::FlatCap);
        p.setPen(pen);
        p.drawLine(QPointF(6.5, 6.5), QPointF(14.5, 14.5));
        p.drawLine(QPointF(14.5, 6.5), QPointF(6.5, 14.5));
        break;
    }
    default:
        break;
    }
    return img;
}

// A 123 x 31 action button: light grey rounded face on the body colour, the
// word in bold with its first letter underlined (its keyboard letter).
QImage DrawActionButton(const QString& word, bool hover)
{
    QImage img(123, 31, QImage::Format_RGB32);
    img.fill(kBody);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const QRectF r(0.5, 0.5, 122, 30);
    QLinearGradient g(0, 0, 0, 31);
    if (hover) {
        g.setColorAt(0.0, QColor(0xFF, 0xFF, 0xFF));
        g.setColorAt(1.0, QColor(0xE4, 0xE4, 0xE4));
    } else {
        g.setColorAt(0.0, QColor(0xF0, 0xF0, 0xF0));
        g.setColorAt(1.0, QColor(0xC4, 0xC4, 0xC4));
    }
    QPainterPath face;
    face.addRoundedRect(r, 9, 9);
    p.fillPath(face, g);
    p.setPen(QPen(QColor(0x55, 0x55, 0x55), 1));
    p.drawPath(face);
    p.setPen(QPen(QColor(255, 255, 255, 200), 1));
    p.drawLine(QPointF(9, 2), QPointF(114, 2));

    QFont font = ArialBold(15);
    p.setFont(font);
    const QFontMetrics fm(font);
    const int textW = fm.horizontalAdvance(word);
    const int x = (123 - textW) / 2;
    const int baseline = (31 + fm.ascent() - fm.descent()) / 2;
    p.setPen(Qt::black);
    p.drawText(x, baseline, word);
    const int firstW = fm.horizontalAdvance(word.left(1));
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(x, baseline + 2, firstW, 1, Qt::black);
    return img;
}

// Step digit: grey circle with a dark digit on the body colour.
QImage DrawStep(int digit)
{
    QImage img(20, 20, QImage::Format_RGB32);
    img.fill(kBody);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    QRadialGradient g(QPointF(8, 7), 12);
    g.setColorAt(0.0, QColor(0xF2, 0xF2, 0xF2));
    g.setColorAt(1.0, QColor(0xA8, 0xA8, 0xA8));
    p.setBrush(g);
    p.setPen(QPen(QColor(0x50, 0x50, 0x50), 1));
    p.drawEllipse(QRectF(1, 1, 18, 18));
    p.setPen(QColor(0x20, 0x20, 0x20));
    p.setFont(ArialBold(13));
    p.drawText(QRect(0, 0, 20, 20), Qt::AlignCenter, QString::number(digit));
    return img;
}

// The about window's logo picture: one pure blue per row, 9 at the top to 250
// at the bottom.
QImage DrawLogo()
{
    const int w = 219;
    const int h = 52;
    QImage img(w, h, QImage::Format_RGB888);
    for (int y = 0; y < h; ++y) {
        const int blue = int(std::lround(9.0 + (250.0 - 9.0) * y / (h - 1)));
        for (int x = 0; x < w; ++x)
            img.setPixelColor(x, y, QColor(0, 0, blue));
    }
    return img;
}

// Pixel art from rows of characters: each character maps to a colour; '.' is
// transparent.
QImage FromArt(const std::vector<const char*>& rows, const std::vector<std::pair<char, QColor>>& colours)
{
    const int h = int(rows.size());
    const int w = int(std::strlen(rows.front()));
    QImage img(w, h, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w && rows[y][x]; ++x) {
            for (const auto& [ch, colour] : colours) {
                if (rows[y][x] == ch)
                    img.setPixelColor(x, y, colour);
            }
        }
    }
    return img;
}

// The pointing hand, index finger raised; hot spot at the fingertip (6, 1).
QImage DrawHandCursor()
{
    const std::vector<const char*> art = {
        "................................",
        ".....XX.........................",
        "....XooX........................",
        "....XooX........................",
        "....XooX........................",
        "....XooX........................",
        "....XooXXX......................",
        "....XooXooXXX...................",
        "....XooXooXooXX.................",
        "....XooXooXooXoX................",
        ".XX.XooXooXooXooX...............",
        "XooXXooooooooXooX...............",
        "XoooXoooooooooooX...............",
        ".XooXoooooooooooX...............",
        "..XoXoooooooooooX...............",
        "..XooooooooooooX................",
        "...XoooooooooooX................",
        "...XooooooooooX.................",
        "....XoooooooooX.................",
        "....XooooooooX..................",
        ".....XoooooooX..................",
        ".....XoooooooX..................",
        ".....XXXXXXXXX..................",
        "................................",
        "................................",
        "................................",
        "................................",
        "................................",
        "................................",
        "................................",
        "................................",
        "................................",
    };
    QImage argb = FromArt(art, {{'X', Qt::black}, {'o', Qt::white}});
    // Monochrome: black, white and transparent only.
    QImage mono(argb.size(), QImage::Format_Indexed8);
    mono.setColorTable({qRgba(0, 0, 0, 0), qRgb(0, 0, 0), qRgb(255, 255, 255)});
    for (int y = 0; y < argb.height(); ++y) {
        for (int x = 0; x < argb.width(); ++x) {
            const QRgb px = argb.pixel(x, y);
            mono.setPixel(x, y, qAlpha(px) == 0 ? 0 : (qRed(px) == 0 ? 1 : 2));
        }
    }
    return mono;
}

// 16 x 16: white right-pointing arrow on a cyan octagon, black corners.
QImage DrawVisitArrow()
{
    QImage img(16, 16, QImage::Format_RGB32);
    img.fill(Qt::black);
    QPainter p(&img);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x00, 0xFF, 0xFF));
    p.drawPolygon(QPolygon({QPoint(5, 0), QPoint(11, 0), QPoint(16, 5), QPoint(16, 11), QPoint(11, 16),
                            QPoint(5, 16), QPoint(0, 11), QPoint(0, 5)}));
    p.setBrush(Qt::white);
    p.setPen(QColor(0x00, 0x60, 0x70));
    p.drawPolygon(QPolygon({QPoint(3, 6), QPoint(8, 6), QPoint(8, 3), QPoint(13, 8), QPoint(8, 13),
                            QPoint(8, 10), QPoint(3, 10)}));
    return img;
}

// The program's icon, drawn flat (no antialiasing) so it stays within a small
// palette: a stack of three photo thumbnails with a quill across them.
QImage DrawIconArgb()
{
    QImage img(32, 32, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    auto photo = [&](int x, int y, const QColor& sky) {
        p.setPen(QColor(0x00, 0x3B, 0x59));
        p.setBrush(Qt::white);
        p.drawRect(x, y, 17, 14);
        p.setPen(Qt::NoPen);
        p.setBrush(sky);
        p.drawRect(x + 2, y + 2, 14, 11);
        p.setBrush(QColor(0x2E, 0x8B, 0x3A));
        p.drawPolygon(QPolygon({QPoint(x + 2, y + 13), QPoint(x + 7, y + 7), QPoint(x + 11, y + 11),
                                QPoint(x + 13, y + 9), QPoint(x + 16, y + 13)}));
        p.setBrush(QColor(0xFF, 0xD0, 0x40));
        p.drawRect(x + 12, y + 3, 2, 2);
    };
    photo(1, 2, QColor(0x13, 0xA2, 0xEA));
    photo(7, 9, QColor(0x00, 0x88, 0xCC));
    photo(13, 16, QColor(0x46, 0xB4, 0xF0));
    // The quill: a feather from the lower left to the upper right.
    p.setPen(QColor(0x40, 0x28, 0x10));
    p.drawLine(3, 30, 12, 21);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xF5, 0xA6, 0x23));
    p.drawPolygon(QPolygon({QPoint(11, 22), QPoint(20, 9), QPoint(29, 1), QPoint(24, 12), QPoint(14, 23)}));
    p.setPen(QColor(0xA0, 0x60, 0x00));
    p.drawLine(12, 21, 27, 3);
    return img;
}

// 256-colour version of an icon drawing: palette index 0 is fully transparent.
QImage ToIndexed(const QImage& argb)
{
    QList<QRgb> table = {qRgba(0, 0, 0, 0)};
    std::vector<int> indices;
    for (int y = 0; y < argb.height(); ++y) {
        for (int x = 0; x < argb.width(); ++x) {
            const QRgb px = argb.pixel(x, y);
            int index = 0;
            if (qAlpha(px) >= 128) {
                const QRgb opaque = qRgb(qRed(px), qGreen(px), qBlue(px));
                index = int(table.indexOf(opaque));
                if (index < 0) {
                    if (table.size() >= 256) {
                        std::fprintf(stderr, "icon has more than 255 colours\n");
                        std::exit(1);
                    }
                    table.append(opaque);
                    index = int(table.size() - 1);
                }
            }
            indices.push_back(index);
        }
    }
    QImage indexed(argb.size(), QImage::Format_Indexed8);
    indexed.setColorTable(table);
    for (int y = 0; y < argb.height(); ++y) {
        for (int x = 0; x < argb.width(); ++x)
            indexed.setPixel(x, y, uint(indices[size_t(y * argb.width() + x)]));
    }
    return indexed;
}

void PutLe16(QByteArray& out, int v)
{
    out.append(char(v & 0xFF));
    out.append(char((v >> 8) & 0xFF));
}

void PutLe32(QByteArray& out, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        out.append(char((v >> (8 * i)) & 0xFF));
}

// A one-image .ico at 8 bits per pixel with a 256-entry palette and an AND
// mask for the transparent pixels (palette index 0).
QByteArray EncodeIco8(const QImage& indexed)
{
    const int w = indexed.width();
    const int h = indexed.height();
    const int xorStride = (w + 3) & ~3;
    const int andStride = ((w + 31) / 32) * 4;
    const quint32 dibSize = 40 + 256 * 4 + quint32(xorStride * h + andStride * h);

    QByteArray out;
    PutLe16(out, 0); // reserved
    PutLe16(out, 1); // icon
    PutLe16(out, 1); // one image
    out.append(char(w));
    out.append(char(h));
    out.append(char(0)); // 256 colours
    out.append(char(0));
    PutLe16(out, 1); // planes
    PutLe16(out, 8); // bits per pixel
    PutLe32(out, dibSize);
    PutLe32(out, 6 + 16);

    PutLe32(out, 40);
    PutLe32(out, quint32(w));
    PutLe32(out, quint32(h * 2)); // colour rows plus mask rows
    PutLe16(out, 1);
    PutLe16(out, 8);
    PutLe32(out, 0); // BI_RGB
    PutLe32(out, quint32(xorStride * h + andStride * h));
    PutLe32(out, 0);
    PutLe32(out, 0);
    PutLe32(out, 256);
    PutLe32(out, 0);

    const QList<QRgb> table = indexed.colorTable();
    for (int i = 0; i < 256; ++i) {
        const QRgb c = i < table.size() ? table[i] : qRgb(0, 0, 0);
        out.append(char(qBlue(c)));
        out.append(char(qGreen(c)));
        out.append(char(qRed(c)));
        out.append(char(0));
    }
    for (int y = h - 1; y >= 0; --y) {
        for (int x = 0; x < xorStride; ++x)
            out.append(char(x < w ? indexed.pixelIndex(x, y) : 0));
    }
    for (int y = h - 1; y >= 0; --y) {
        QByteArray row(andStride, '\0');
        for (int x = 0; x < w; ++x) {
            if (indexed.pixelIndex(x, y) == 0)
                row[x / 8] = char(row[x / 8] | (0x80 >> (x % 8)));
        }
        out.append(row);
    }
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    g_outDir = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(g_outDir)) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }

    bool ok = true;
    ok &= Save(DrawSkin(), QStringLiteral("skin.png"));
    ok &= Save(DrawBanner(), QStringLiteral("banner.jpg"), "JPEG", 90);
    const std::array<std::pair<char, const char*>, 3> glyphs = {{{'?', "about"}, {'_', "minimise"}, {'X', "close"}}};
    for (const auto& [glyph, name] : glyphs) {
        ok &= Save(DrawFormButton(glyph, false), QStringLiteral("button-%1.png").arg(QLatin1String(name)));
        ok &= Save(DrawFormButton(glyph, true), QStringLiteral("button-%1-hover.png").arg(QLatin1String(name)));
    }
    for (const QString& word : {QStringLiteral("Start"), QStringLiteral("Stop")}) {
        ok &= Save(DrawActionButton(word, false), QStringLiteral("button-%1.png").arg(word.toLower()));
        ok &= Save(DrawActionButton(word, true), QStringLiteral("button-%1-hover.png").arg(word.toLower()));
    }
    for (int digit = 1; digit <= 4; ++digit)
        ok &= Save(DrawStep(digit), QStringLiteral("step-%1.png").arg(digit));
    ok &= Save(DrawLogo(), QStringLiteral("logo.png"));
    ok &= Save(DrawHandCursor(), QStringLiteral("hand-cursor.png"));
    ok &= Save(DrawVisitArrow(), QStringLiteral("visit-arrow.png"));

    const QImage icon = ToIndexed(DrawIconArgb());
    ok &= Save(icon, QStringLiteral("pixquill.png"));
    QFile ico(QDir(g_outDir).filePath(QStringLiteral("pixquill.ico")));
    if (!ico.open(QIODevice::WriteOnly) || ico.write(EncodeIco8(icon)) < 0) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(ico.fileName()));
        ok = false;
    }
    return ok ? 0 : 1;
}
