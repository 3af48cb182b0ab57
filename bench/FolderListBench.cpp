// A folder of 100,000 files in the window: how long the file list takes to
// list it when the source box is typed, and Select All and Clear take, and
// how many files were decoded meanwhile (none should be). Also the command
// line's listing of the same folder. The folder is filled with hard links to
// one small image, which is quick to make and lists like real files.
//
//   pixquill_folder_bench [COUNT]      (default 100000)

#include <chrono>
#include <cstdio>

#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QTemporaryDir>

#include "codec/MFreeImage_2.h"
#include "engine/FolderListing.h"
#include "engine/OptionTables.h"
#include "ui/main/FileListBox.h"
#include "ui/main/fMain.h"
#include "ui/main/mStartup.h"

using namespace pixquill;

namespace {

template <typename Work>
double Seconds(Work&& work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 100000;

    QTemporaryDir dir;
    QByteArray original;
    for (int i = 0; i < count; ++i) {
        // ext4 allows 65,000 links to one file.
        if (i % 50000 == 0) {
            const QString first = dir.filePath(QStringLiteral("IMG_%1.jpg").arg(i));
            QImage(64, 48, QImage::Format_RGB32).save(first, "JPEG");
            original = QFile::encodeName(first);
            continue;
        }
        const QByteArray name = QFile::encodeName(dir.filePath(QStringLiteral("IMG_%1.jpg").arg(i)));
        if (::link(original.constData(), name.constData()) != 0) {
            std::perror("link");
            return 1;
        }
    }
    const QString mask = *FileMaskAt(kFileMaskAllSupported);
    std::printf("folder of %d files, default mask\n", count);

    for (int round = 1; round <= 3; ++round) {
        const double cli = Seconds([&] { (void)ReadFolderListing(dir.path(), mask); });

        fMain* window = StartUp();
        int loads = 0;
        window->SetImageLoader([&loads](const QString& path, Surface& picLoad) {
            ++loads;
            return LoadImageToSurface(path, picLoad);
        });
        QCoreApplication::processEvents();
        // Listing runs in the box's change handler; the paint that follows
        // is part of what a person waits for.
        const double list = Seconds([&] {
            window->txtImgDir()->setText(dir.path());
            QCoreApplication::processEvents();
        });
        const double selectAll = Seconds([&] {
            window->cmdselect_Click(0);
            QCoreApplication::processEvents();
        });
        const int selected = int(window->fbImages()->SelectedNames().size());
        const double clear = Seconds([&] {
            window->cmdselect_Click(1);
            QCoreApplication::processEvents();
        });
        std::printf("round %d: list %.3f s, Select All %.3f s (%d selected), Clear %.3f s, "
                    "decoded %d; command-line listing %.3f s\n",
                    round, list, selectAll, selected, clear, loads, cli);
        delete window;
    }
    return 0;
}
