#include "engine/FolderListing.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "engine/OptionTables.h"

namespace pixquill {

namespace {

bool IsAsciiDigit(QChar c)
{
    return c.unicode() >= u'0' && c.unicode() <= u'9';
}

// Most names are ASCII; those skip the Unicode tables.
char32_t FoldCase(QChar c)
{
    const char16_t u = c.unicode();
    if (u < 0x80)
        return u >= u'A' && u <= u'Z' ? char32_t(u + (u'a' - u'A')) : char32_t(u);
    return QChar::toCaseFolded(char32_t(u));
}

// The end of the digit run starting at i.
qsizetype DigitRunEnd(QStringView s, qsizetype i)
{
    while (i < s.size() && IsAsciiDigit(s[i]))
        ++i;
    return i;
}

// Compares the two names by their case-folded characters, digit runs by
// value; leading zeros are counted into *zerosA / *zerosB for the tie-break.
int CompareNatural(QStringView a, QStringView b, qsizetype* zerosA, qsizetype* zerosB)
{
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsAsciiDigit(a[i]) && IsAsciiDigit(b[j])) {
            const qsizetype startA = i;
            const qsizetype startB = j;
            while (i < a.size() && a[i] == u'0')
                ++i;
            while (j < b.size() && b[j] == u'0')
                ++j;
            *zerosA += i - startA;
            *zerosB += j - startB;
            const qsizetype endA = DigitRunEnd(a, i);
            const qsizetype endB = DigitRunEnd(b, j);
            // Without leading zeros, the longer run is the larger number.
            if (endA - i != endB - j)
                return endA - i < endB - j ? -1 : 1;
            for (; i < endA; ++i, ++j) {
                if (a[i] != b[j])
                    return a[i] < b[j] ? -1 : 1;
            }
            continue;
        }
        const char32_t ca = FoldCase(a[i]);
        const char32_t cb = FoldCase(b[j]);
        if (ca != cb)
            return ca < cb ? -1 : 1;
        ++i;
        ++j;
    }
    const bool aLeft = i < a.size();
    const bool bLeft = j < b.size();
    if (aLeft != bLeft)
        return aLeft ? 1 : -1;
    return 0;
}

QString ProblemOf(QString folder)
{
    // "a.png/" names nothing at all; "a.png" names a file.
    while (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    const QFileInfo info(folder);
    if (!info.exists())
        return QStringLiteral("No such folder");
    if (!info.isDir())
        return QStringLiteral("Not a folder");
    return QStringLiteral("Cannot read this folder");
}

// Calls visit(name) for every ordinary, non-hidden file of the folder, with
// the name as the file system holds it. False when the folder could not be
// read.
template <typename Visit>
bool ForEachOrdinaryFile(const QString& folder, Visit&& visit)
{
#ifdef Q_OS_UNIX
    const QByteArray path = QFile::encodeName(folder.isEmpty() ? QStringLiteral(".") : folder);
    DIR* dir = ::opendir(path.constData());
    if (!dir)
        return false;
    const int fd = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue; // hidden, and "." and ".."
        bool ordinary = entry->d_type == DT_REG;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            // Follows links: a link counts as what it points at.
            struct stat st {};
            ordinary = ::fstatat(fd, entry->d_name, &st, 0) == 0 && S_ISREG(st.st_mode);
        }
        if (ordinary)
            visit(QByteArrayView(entry->d_name));
    }
    ::closedir(dir);
    return true;
#else
    const QFileInfo info(folder);
    if (!info.isDir() || !info.isReadable())
        return false;
    QDirIterator it(folder, QDir::Files | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        visit(QFile::encodeName(it.fileName()));
    }
    return true;
#endif
}

// One folder of a tree: its path relative to the root, as the file system
// holds it and as text.
struct PendingFolder {
    QByteArray Raw;
    QString Text;
};

#ifdef Q_OS_UNIX
QString SystemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

using FolderId = std::pair<dev_t, ino_t>;

// What an entry of a folder is to the walk. Links count as what they point
// at for files only: a link to a folder is never entered.
enum class EntryKind { Other, File, Folder };

EntryKind KindOf(int folderFd, const dirent& entry)
{
    struct stat st {};
    switch (entry.d_type) {
    case DT_REG:
        return EntryKind::File;
    case DT_DIR:
        return EntryKind::Folder;
    case DT_LNK:
        return ::fstatat(folderFd, entry.d_name, &st, 0) == 0 && S_ISREG(st.st_mode) ? EntryKind::File
                                                                                       : EntryKind::Other;
    case DT_UNKNOWN:
        // Some file systems do not say; look without following a link first.
        if (::fstatat(folderFd, entry.d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            return EntryKind::Other;
        if (S_ISDIR(st.st_mode))
            return EntryKind::Folder;
        if (S_ISLNK(st.st_mode) && ::fstatat(folderFd, entry.d_name, &st, 0) != 0)
            return EntryKind::Other;
        return S_ISREG(st.st_mode) ? EntryKind::File : EntryKind::Other;
    default:
        return EntryKind::Other;
    }
}
#endif

} // namespace

int CompareFileNames(QStringView a, QStringView b)
{
    qsizetype zerosA = 0;
    qsizetype zerosB = 0;
    if (const int order = CompareNatural(a, b, &zerosA, &zerosB))
        return order;
    // Equal to the eye: fewer leading zeros first, then by code units, so
    // "a.png" and "A.png" never swap places between runs.
    if (zerosA != zerosB)
        return zerosA < zerosB ? -1 : 1;
    return a.compare(b, Qt::CaseSensitive);
}

void SortFileNames(QStringList& names)
{
    std::sort(names.begin(), names.end(),
              [](const QString& a, const QString& b) { return CompareFileNames(a, b) < 0; });
}

Outcome<QStringList> ReadFolderListing(const QString& folder, const QString& mask)
{
    QStringList names;
    const CompiledMask compiled(mask);
    const bool read = ForEachOrdinaryFile(folder, [&](QByteArrayView raw) {
        QString name = QFile::decodeName(raw.toByteArray());
        if (compiled.Matches(name))
            names.append(std::move(name));
    });
    if (!read)
        return Failure{ProblemOf(folder)};
    SortFileNames(names);
    return names;
}

Outcome<> CreateOneFolder(const QString& folder)
{
    if (QFileInfo(folder).isDir())
        return {};
#ifdef Q_OS_UNIX
    if (::mkdir(QFile::encodeName(folder).constData(), 0777) == 0)
        return {};
    const int error = errno;
    // Another process (a second share of the same run) made it meanwhile.
    if (error == EEXIST && QFileInfo(folder).isDir())
        return {};
    return Failure{QString::fromLocal8Bit(std::strerror(error))};
#else
    if (QDir().mkdir(folder))
        return {};
    return Failure{QStringLiteral("the folder could not be created")};
#endif
}

FolderTree ReadFolderTree(const QString& root, const QString& mask, const FolderTreeOptions& options)
{
    FolderTree tree;
    const CompiledMask compiled(mask);
    const QByteArray rootPath = QFile::encodeName(root.isEmpty() ? QStringLiteral(".") : root);
#ifdef Q_OS_UNIX
    std::set<FolderId> seen;
    std::optional<FolderId> leaveOut;
    if (struct stat st {}; !options.LeaveOut.isEmpty()
                           && ::stat(QFile::encodeName(options.LeaveOut).constData(), &st) == 0)
        leaveOut = FolderId{st.st_dev, st.st_ino};
#endif
    // Folders still to list, the next one last.
    std::vector<PendingFolder> pending{PendingFolder{}};
    while (!pending.empty()) {
        const PendingFolder folder = std::move(pending.back());
        pending.pop_back();
        const bool isRoot = folder.Raw.isEmpty();
        QStringList files;
        std::vector<PendingFolder> subfolders;
#ifdef Q_OS_UNIX
        const QByteArray path = isRoot ? rootPath : rootPath + '/' + folder.Raw;
        // Below the root, a folder replaced by a link since it was listed is
        // not followed either.
        const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (isRoot ? 0 : O_NOFOLLOW));
        if (fd < 0) {
            tree.Unread.push_back({folder.Text, SystemReason(errno)});
            continue;
        }
        struct stat st {};
        if (::fstat(fd, &st) == 0) {
            const FolderId id{st.st_dev, st.st_ino};
            if (!isRoot && leaveOut && id == *leaveOut) {
                tree.LeftOut = true;
                ::close(fd);
                continue;
            }
            if (!seen.insert(id).second) {
                ::close(fd);
                continue;
            }
        }
        DIR* dir = ::fdopendir(fd);
        if (!dir) {
            tree.Unread.push_back({folder.Text, SystemReason(errno)});
            ::close(fd);
            continue;
        }
        errno = 0;
        while (const dirent* entry = ::readdir(dir)) {
            if (entry->d_name[0] == '.')
                continue; // hidden, and "." and ".."
            const EntryKind kind = KindOf(fd, *entry);
            // An entry that matches the mask but is no ordinary file (a FIFO,
            // a device, a dangling or looping link, a folder not walked) is
            // listed on demand, so that the run can say why it was not made.
            const bool special = options.SpecialEntries
                && (kind == EntryKind::Other || (kind == EntryKind::Folder && !options.SubFolders));
            if (kind == EntryKind::File || special) {
                QString name = QFile::decodeName(entry->d_name);
                if (compiled.Matches(name))
                    files.append(std::move(name));
            } else if (kind == EntryKind::Folder && options.SubFolders) {
                const QByteArray raw(entry->d_name);
                subfolders.push_back({isRoot ? raw : folder.Raw + '/' + raw, QFile::decodeName(raw)});
            }
            errno = 0;
        }
        const int readError = errno;
        ::closedir(dir);
        if (readError != 0) {
            tree.Unread.push_back({folder.Text, SystemReason(readError)});
            continue;
        }
#else
        const QString path = isRoot ? root : root + QLatin1Char('/') + folder.Text;
        const QFileInfo info(path);
        if (!info.isDir() || !info.isReadable() || (!isRoot && info.isSymLink())) {
            tree.Unread.push_back({folder.Text, ProblemOf(path)});
            continue;
        }
        if (!isRoot && !options.LeaveOut.isEmpty()
            && info.canonicalFilePath() == QFileInfo(options.LeaveOut).canonicalFilePath()) {
            tree.LeftOut = true;
            continue;
        }
        const QDir::Filters filters = QDir::Files | QDir::NoDotAndDotDot
                                    | (options.SubFolders ? QDir::Dirs | QDir::NoSymLinks : QDir::Filters());
        for (const QFileInfo& entry : QDir(path).entryInfoList(filters)) {
            if (entry.fileName().startsWith(QLatin1Char('.')))
                continue;
            if (entry.isFile() && compiled.Matches(entry.fileName()))
                files.append(entry.fileName());
            else if (entry.isDir())
                subfolders.push_back({QFile::encodeName(isRoot ? entry.fileName()
                                                               : folder.Text + QLatin1Char('/') + entry.fileName()),
                                      entry.fileName()});
        }
#endif
        SortFileNames(files);
        const QString prefix = isRoot ? QString() : folder.Text + QLatin1Char('/');
        for (const QString& name : files)
            tree.Names.append(prefix + name);
        // Sorted on their own names; pushed last first, so the first is next.
        std::sort(subfolders.begin(), subfolders.end(), [](const PendingFolder& a, const PendingFolder& b) {
            return CompareFileNames(a.Text, b.Text) < 0;
        });
        for (auto it = subfolders.rbegin(); it != subfolders.rend(); ++it)
            pending.push_back({std::move(it->Raw), prefix + it->Text});
    }
    return tree;
}

bool LiesInsideFolder(const QString& folder, const QString& root)
{
    const QString realRoot = QFileInfo(root).canonicalFilePath();
    if (realRoot.isEmpty())
        return false;
    // The nearest existing parent's real path, with the levels still to be
    // made put back on.
    QString missing;
    QFileInfo existing(QDir::cleanPath(QFileInfo(folder).absoluteFilePath()));
    while (!existing.exists()) {
        const QString parent = existing.path();
        if (parent == existing.filePath())
            return false;
        missing.prepend(QLatin1Char('/') + existing.fileName());
        existing = QFileInfo(parent);
    }
    QString real = existing.canonicalFilePath();
    if (real.endsWith(QLatin1Char('/')))
        real.chop(1); // the root "/"
    real += missing;
    const QString below = realRoot.endsWith(QLatin1Char('/')) ? realRoot : realRoot + QLatin1Char('/');
    return real.startsWith(below) && real.size() > below.size();
}

Outcome<> CreateFolderLevels(const QString& base, const QString& relative)
{
    QString path = base;
    for (const QString& level : relative.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (!path.endsWith(QLatin1Char('/')))
            path += QLatin1Char('/');
        path += level;
        if (const Outcome<> made = CreateOneFolder(path); !made)
            return Failure{QStringLiteral("%1 (%2)").arg(path, made.Reason())};
    }
    return {};
}

int CountOrdinaryFiles(const QString& folder)
{
    int count = 0;
    ForEachOrdinaryFile(folder, [&count](QByteArrayView) { ++count; });
    return count;
}

} // namespace pixquill
