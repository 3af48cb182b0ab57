// A photo tree of 100,000 files in 5,000 folders (100 folders of 50 folders
// of 20 files, by default), made in the temporary folder: how long
// pixquill-batch --recursive takes to list it. The files are empty: the
// listing never opens them. The page cache is warm (the tree was just made);
// each round lists the whole tree again.
//
//   pixquill_tree_bench [TOP-FOLDERS] [SUBFOLDERS] [FILES-PER-FOLDER]   (default 100 50 20)

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "engine/FolderListing.h"
#include "engine/OptionTables.h"

using namespace pixquill;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int top = argc > 1 ? std::atoi(argv[1]) : 100;
    const int sub = argc > 2 ? std::atoi(argv[2]) : 50;
    const int files = argc > 3 ? std::atoi(argv[3]) : 20;

    QTemporaryDir dir;
    const auto madeStart = std::chrono::steady_clock::now();
    for (int t = 0; t < top; ++t) {
        for (int s = 0; s < sub; ++s) {
            const QString folder = QStringLiteral("%1/%2/%3").arg(dir.path()).arg(2000 + t).arg(s + 1, 2, 10, QChar('0'));
            if (!QDir().mkpath(folder)) {
                std::fprintf(stderr, "cannot make %s\n", qPrintable(folder));
                return 1;
            }
            for (int f = 0; f < files; ++f) {
                const QByteArray name = QFile::encodeName(folder + QStringLiteral("/IMG_%1.jpg").arg(f));
                const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
                if (fd < 0) {
                    std::perror("open");
                    return 1;
                }
                ::close(fd);
            }
        }
    }
    const double made = std::chrono::duration<double>(std::chrono::steady_clock::now() - madeStart).count();
    std::printf("tree of %d files in %d folders (+%d above them) made in %.1f s; default mask\n",
                top * sub * files, top * sub, top, made);

    const QString mask = *FileMaskAt(kFileMaskAllReadable);
    for (int round = 1; round <= 5; ++round) {
        const auto start = std::chrono::steady_clock::now();
        const FolderTree tree = ReadFolderTree(dir.path(), mask);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("round %d: listed %lld files in %.3f s (%zu folders unread)\n", round,
                    static_cast<long long>(tree.Names.size()), seconds, tree.Unread.size());
    }
    return 0;
}
