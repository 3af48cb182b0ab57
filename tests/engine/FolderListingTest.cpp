#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>

#include "engine/FolderListing.h"
#include "tests/support/QtPrinters.h"

namespace pixquill {
namespace {

struct OrderCase {
    const char* Before;
    const char* After;
};

void PrintTo(const OrderCase& c, std::ostream* os) { *os << c.Before << " < " << c.After; }

class FileNameOrder : public ::testing::TestWithParam<OrderCase> {};

TEST_P(FileNameOrder, SortsAsAFileManagerDoes)
{
    const QString before = QString::fromUtf8(GetParam().Before);
    const QString after = QString::fromUtf8(GetParam().After);
    EXPECT_LT(CompareFileNames(before, after), 0);
    EXPECT_GT(CompareFileNames(after, before), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, FileNameOrder,
    ::testing::Values(OrderCase{"IMG_2.jpg", "IMG_10.jpg"},   // numbers by value
                      OrderCase{"img_9.jpg", "IMG_10.jpg"},   // and case ignored
                      OrderCase{"apple.png", "Banana.png"},
                      OrderCase{"a.png", "a1.png"},           // shorter first
                      OrderCase{"x7y.png", "x007z.png"},      // zeros do not count
                      OrderCase{"x7.png", "x007.png"},        // equal numbers: fewer zeros first
                      OrderCase{"A.png", "a.png"},            // equal ignoring case: still one order
                      OrderCase{"99999999999999999999.png", "100000000000000000000.png"}, // beyond 64 bits
                      OrderCase{"été.png", "Ünïcode.png"}));

TEST(FileNameOrder, SortsAFolderOfPhotos)
{
    QStringList names{"IMG_10.jpg", "img_2.jpg", "IMG_1.JPG", "Holiday 3.png", "holiday 12.png", "-dash.png"};
    SortFileNames(names);
    EXPECT_EQ(names, (QStringList{"-dash.png", "Holiday 3.png", "holiday 12.png", "IMG_1.JPG", "img_2.jpg",
                                  "IMG_10.jpg"}));
}

// What is listed and what is not, and why nothing could be.
TEST(FolderListing, OrdinaryFilesOnlyAndNothingOpened)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const char* name : {"b.png", "a.png", ".hidden.png", "noext"}) {
        QFile file(dir.filePath(QString::fromUtf8(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder.png")));
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir.filePath("fifo.png")).constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(dir.filePath("missing.png"), dir.filePath("dangling.png")));
    ASSERT_TRUE(QFile::link(dir.filePath("a.png"), dir.filePath("link.png")));
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray socketPath = QFile::encodeName(dir.filePath("socket.png"));
    ASSERT_LT(socketPath.size(), qsizetype(sizeof(address.sun_path)));
    std::memcpy(address.sun_path, socketPath.constData(), size_t(socketPath.size()));
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);

    const Outcome<QStringList> listing = ReadFolderListing(dir.path(), QStringLiteral("*.png"));
    ASSERT_TRUE(listing.Ok()) << listing.Reason().toStdString();
    EXPECT_EQ(*listing, (QStringList{"a.png", "b.png", "link.png"}));
    EXPECT_EQ(CountOrdinaryFiles(dir.path()), 4); // noext counts too
    ::close(sock);
}

struct ProblemCase {
    const char* Name;
    const char* Problem;
};

void PrintTo(const ProblemCase& c, std::ostream* os) { *os << c.Name; }

class FolderProblems : public ::testing::TestWithParam<ProblemCase> {};

TEST_P(FolderProblems, FailWithTheReason)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile file(dir.filePath("file.png"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_TRUE(QDir(dir.path()).mkdir("locked"));
    ASSERT_TRUE(QFile::setPermissions(dir.filePath("locked"), QFileDevice::WriteOwner));
    if (std::string(GetParam().Name) == "locked" && ::geteuid() == 0)
        GTEST_SKIP() << "root reads every folder";

    const QString folder = dir.filePath(QString::fromUtf8(GetParam().Name));
    const Outcome<QStringList> listing = ReadFolderListing(folder, QStringLiteral("*.*"));
    ASSERT_FALSE(listing.Ok());
    EXPECT_EQ(listing.Reason(), QString::fromUtf8(GetParam().Problem));
    EXPECT_EQ(CountOrdinaryFiles(folder), 0);
}

INSTANTIATE_TEST_SUITE_P(Kinds, FolderProblems,
                         ::testing::Values(ProblemCase{"missing", "No such folder"},
                                           ProblemCase{"half/typed", "No such folder"},
                                           ProblemCase{"file.png", "Not a folder"},
                                           ProblemCase{"locked", "Cannot read this folder"}),
                         [](const auto& testInfo) { return std::string(testInfo.param.Name) == "half/typed"
                                                           ? std::string("halftyped")
                                                           : QString::fromUtf8(testInfo.param.Name).remove('.').toStdString(); });

// Root reads every folder: as root this case skips itself and runs again as
// "nobody" (see CMakeLists.txt). The order and what a tree lists are the
// command line's tests (RecursiveRun).
TEST(FolderTree, UnreadableFolderIsReportedAndTheWalkGoesOn)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkpath("a/locked") && QDir(dir.path()).mkpath("b"));
    ASSERT_TRUE(QFile(dir.filePath("b/x.jpg")).open(QIODevice::WriteOnly));
    ASSERT_TRUE(QFile::setPermissions(dir.filePath("a/locked"), QFileDevice::WriteOwner));
    const auto restore = qScopeGuard([&dir] { QFile::setPermissions(dir.filePath("a/locked"), QFileDevice::ReadOwner
                                                                        | QFileDevice::WriteOwner | QFileDevice::ExeOwner); });
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads every folder";
    const QString denied = QString::fromLocal8Bit(std::strerror(EACCES));
    const FolderTree tree = ReadFolderTree(dir.path(), QStringLiteral("*.jpg"));
    ASSERT_EQ(tree.Unread.size(), 1u);
    EXPECT_EQ(tree.Unread[0].Folder + ": " + tree.Unread[0].Reason, "a/locked: " + denied);
    EXPECT_EQ(tree.Names, QStringList{"b/x.jpg"});
    // The root alone, as a run without --recursive lists it: said, not taken for an empty folder.
    const FolderTree root = ReadFolderTree(dir.filePath("a/locked"), QStringLiteral("*.jpg"), {false, {}});
    ASSERT_EQ(root.Unread.size(), 1u);
    EXPECT_EQ(root.Unread[0].Folder + ": " + root.Unread[0].Reason, ": " + denied);
}

} // namespace
} // namespace pixquill
