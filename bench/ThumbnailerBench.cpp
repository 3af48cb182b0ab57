// pixquill-thumbnailer as a file manager runs it: one process per file,
// its start included, on a 12-MP phone HEIC (with the 320 x 240 thumbnail
// image phones store) and a camera DNG with a preview, at each size asked
// for; then the time each broken or hostile file of the test suites takes
// to be refused.
//
//   pixquill_thumbnailer_bench THUMBNAILER [RUNS] [SIZE...]   (default 20 runs, 128 256)
//
// Needs heif-enc (libheif-examples) for the HEIC.

#include <algorithm>
#include <cstdio>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include "bench/DrawnPhoto.h"
#include "tests/support/BrokenInputs.h"
#include "tests/support/TestDng.h"

extern char** environ;

namespace {

// Wall time of one run of the program, from before its start to its end;
// -1 when it failed. cpu: its processor time, its decoding child's included,
// which a busy machine inflates far less than the wall time.
double RunOnce(const QByteArray& program, const QList<QByteArray>& arguments, int* exitCode = nullptr,
               double* cpu = nullptr)
{
    std::vector<char*> argv{const_cast<char*>(program.constData())};
    for (const QByteArray& argument : arguments)
        argv.push_back(const_cast<char*>(argument.constData()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    QElapsedTimer clock;
    clock.start();
    pid_t child = -1;
    if (posix_spawn(&child, program.constData(), &actions, nullptr, argv.data(), environ) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return -1;
    }
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    const double ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    if (cpu)
        *cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3
            + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    posix_spawn_file_actions_destroy(&actions);
    if (exitCode)
        *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return ms;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

bool Write(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: pixquill_thumbnailer_bench THUMBNAILER [RUNS] [SIZE...]\n");
        return 2;
    }
    const QByteArray program = QFile::encodeName(args[1]);
    const int runs = args.size() > 2 ? args[2].toInt() : 20;
    QList<int> sizes;
    for (qsizetype i = 3; i < args.size(); ++i)
        sizes << args[i].toInt();
    if (sizes.isEmpty())
        sizes = {128, 256};

    QTemporaryDir dir;
    const QImage phone = pixquill::bench::DrawnPhoto(4032, 3024);
    const QString png = dir.filePath(QStringLiteral("phone.png"));
    const QString heic = dir.filePath(QStringLiteral("phone.heic"));
    phone.save(png);
    QProcess encode;
    encode.start(QStringLiteral("heif-enc"), {QStringLiteral("-q"), QStringLiteral("60"), QStringLiteral("-t"),
                                              QStringLiteral("320"), QStringLiteral("-o"), heic, png});
    if (!encode.waitForFinished(300000) || encode.exitCode() != 0) {
        std::fprintf(stderr, "heif-enc failed (install libheif-examples)\n");
        return 1;
    }
    // A camera's DNG: the sensor's 16-bit mosaic and a 1600 x 1200 JPEG
    // preview, as bodies of the last decade store.
    pixquill::test::DngRecipe recipe;
    recipe.Picture = pixquill::bench::DrawnPhoto(4000, 3000);
    recipe.PreviewSize = QSize(1600, 1200);
    const QString dng = dir.filePath(QStringLiteral("camera.dng"));
    if (!Write(dng, pixquill::test::MakeDng(recipe))) {
        std::fprintf(stderr, "cannot write the DNG\n");
        return 1;
    }
    std::printf("files: phone.heic %lld bytes (4032 x 3024, thumbnail 320 x 240), camera.dng %lld bytes "
                "(4000 x 3000, preview 1600 x 1200)\n",
                static_cast<long long>(QFileInfo(heic).size()), static_cast<long long>(QFileInfo(dng).size()));

    const QByteArray out = QFile::encodeName(dir.filePath(QStringLiteral("out.png")));
    std::printf("%-12s %6s %10s %10s %10s %10s\n", "file", "size", "median ms", "min ms", "max ms", "CPU ms");
    // The floor: the program's start and end alone (its libraries loaded).
    {
        std::vector<double> times;
        std::vector<double> cpus;
        for (int i = 0; i <= runs; ++i) {
            double cpu = 0;
            times.push_back(RunOnce(program, {"--version"}, nullptr, &cpu));
            cpus.push_back(cpu);
        }
        times.erase(times.begin());
        cpus.erase(cpus.begin());
        std::printf("%-12s %6s %10.1f %10.1f %10.1f %10.1f\n", "--version", "-", Median(times),
                    *std::min_element(times.begin(), times.end()), *std::max_element(times.begin(), times.end()),
                    Median(cpus));
    }
    for (const QString& file : {heic, dng}) {
        for (const int size : sizes) {
            const QList<QByteArray> arguments{"-s", QByteArray::number(size), QFile::encodeName(file), out};
            RunOnce(program, arguments); // warm the page cache
            std::vector<double> times;
            std::vector<double> cpus;
            for (int i = 0; i < runs; ++i) {
                int exitCode = 0;
                double cpu = 0;
                times.push_back(RunOnce(program, arguments, &exitCode, &cpu));
                cpus.push_back(cpu);
                if (exitCode != 0) {
                    std::fprintf(stderr, "%s failed\n", qPrintable(file));
                    return 1;
                }
            }
            std::printf("%-12s %6d %10.1f %10.1f %10.1f %10.1f\n", qPrintable(QFileInfo(file).fileName()), size,
                        Median(times), *std::min_element(times.begin(), times.end()),
                        *std::max_element(times.begin(), times.end()), Median(cpus));
        }
    }

    // The broken and hostile files: how long each takes to be refused.
    const QString hostile = dir.filePath(QStringLiteral("hostile"));
    QDir().mkpath(hostile);
    std::vector<QString> files;
    for (const auto& input : pixquill::test::MakeBrokenInputs(hostile, pixquill::test::BrokenInputs()))
        files.push_back(hostile + QLatin1Char('/') + input.Name);
    QDirIterator fuzz(QStringLiteral(PIXQUILL_TEST_DATA_DIR "/fuzz-regressions"), QDir::Files,
                      QDirIterator::Subdirectories);
    while (fuzz.hasNext()) {
        const QString path = fuzz.next();
        if (!path.endsWith(QLatin1String(".md")) && !path.contains(QLatin1String("/oversized/")))
            files.push_back(path);
    }
    std::vector<std::pair<double, QString>> refused;
    for (const QString& file : files) {
        int exitCode = 0;
        const double ms = RunOnce(program, {QFile::encodeName(file), out}, &exitCode);
        QFile::remove(QFile::decodeName(out));
        if (exitCode != 0)
            refused.emplace_back(ms, QFileInfo(file).fileName());
    }
    std::sort(refused.begin(), refused.end());
    std::vector<double> times;
    for (const auto& [ms, name] : refused)
        times.push_back(ms);
    if (!times.empty()) {
        std::printf("refused: %zu of %zu files, median %.1f ms, slowest:", refused.size(), files.size(), Median(times));
        for (size_t i = refused.size(); i-- > 0 && i + 5 >= refused.size();)
            std::printf(" %s %.0f ms;", qPrintable(refused[i].second), refused[i].first);
        std::printf("\n");
    }
    return 0;
}
