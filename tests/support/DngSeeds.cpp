// Writes the fuzzer's DNG seeds (scripts/make-fuzz-seeds.sh runs it): tiny
// camera files as the tests make them, one for each road through the camera
// RAW decoder.
//   pixquill_dng_seeds FOLDER

#include <cstdio>

#include <QFile>
#include <QGuiApplication>
#include <QSize>

#include "tests/support/TestDng.h"
#include "tests/support/TestImages.h"

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: pixquill_dng_seeds FOLDER\n");
        return 2;
    }
    using pixquill::test::DngRecipe;
    struct Seed {
        const char* Name;
        int Orientation;
        QSize Preview;
        bool Bitmap;
    };
    // A JPEG preview (turned a quarter), one of 8-bit samples, and the
    // mosaic alone.
    for (const Seed& seed : {Seed{"preview.dng", 6, QSize(16, 12), false}, Seed{"bitmap.dng", 3, QSize(16, 12), true},
                             Seed{"mosaic.dng", 1, QSize(), false}}) {
        DngRecipe recipe;
        recipe.Picture = pixquill::test::GradientImage(32, 24);
        recipe.Orientation = seed.Orientation;
        recipe.PreviewSize = seed.Preview;
        recipe.PreviewAsBitmap = seed.Bitmap;
        const QByteArray bytes = pixquill::test::MakeDng(recipe);
        QFile file(QFile::decodeName(argv[1]) + QStringLiteral("/") + QLatin1String(seed.Name));
        if (bytes.isEmpty() || !file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
            std::fprintf(stderr, "pixquill_dng_seeds: cannot write %s\n", seed.Name);
            return 1;
        }
    }
    return 0;
}
