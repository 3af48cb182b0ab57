// Each layer of a worker's lock-down refuses on its own, in a child process
// that locks itself down: a layer that silently failed to apply would
// otherwise hide behind the other one.

#include <cerrno>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "engine/WorkerSandbox.h"

namespace pixquill {
namespace {

struct LayerCase {
    const char* Name;
    SandboxLayers Layers;
    bool Refused; // opening a file by name, afterwards
};

void PrintTo(const LayerCase& c, std::ostream* os)
{
    *os << c.Name;
}

class Layer : public ::testing::TestWithParam<LayerCase> {};

TEST_P(Layer, RefusesAFileByNameOnItsOwn)
{
    const SandboxState available = AvailableSandbox();
    const SandboxLayers& layers = GetParam().Layers;
    if ((layers.Landlock && available.LandlockAbi == 0) || (layers.Seccomp && !available.Seccomp))
        GTEST_SKIP() << DescribeSandbox(available).toStdString();
    QTemporaryDir folder;
    const QByteArray path = QFile::encodeName(folder.filePath(QStringLiteral("readable.txt")));
    QFile file(folder.filePath(QStringLiteral("readable.txt")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();

    // The child reports through its exit status: 0 opened, 1 refused with
    // EACCES, 2 refused otherwise, 3 a layer asked for did not apply.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const SandboxState state = LockDownWorker(layers);
        if ((layers.Landlock && state.LandlockAbi == 0) || (layers.Seccomp && !state.Seccomp))
            ::_exit(3);
        const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
        ::_exit(fd >= 0 ? 0 : errno == EACCES ? 1 : 2);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), GetParam().Refused ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    LockDown, Layer,
    ::testing::Values(LayerCase{"Neither", {false, false}, false}, LayerCase{"LandlockAlone", {true, false}, true},
                      LayerCase{"SeccompAlone", {false, true}, true}, LayerCase{"Both", {true, true}, true}),
    [](const auto& testInfo) { return std::string(testInfo.param.Name); });

} // namespace
} // namespace pixquill
