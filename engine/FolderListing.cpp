#include "engine/FolderListing.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

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

int CountOrdinaryFiles(const QString& folder)
{
    int count = 0;
    ForEachOrdinaryFile(folder, [&count](QByteArrayView) { ++count; });
    return count;
}

} // namespace pixquill
