#include "cli/JsonLinesReport.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

#include <QFile>

namespace pixquill {

namespace {

void AppendString(QByteArray& out, const QString& text)
{
    static const char hex[] = "0123456789abcdef";
    out += '"';
    for (const char c : text.toUtf8()) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                out += "\\u00";
                out += hex[(c >> 4) & 0xF];
                out += hex[c & 0xF];
            } else {
                out += c; // UTF-8 passes through
            }
        }
    }
    out += '"';
}

void AppendKey(QByteArray& out, const char* key)
{
    out += out.size() > 1 ? ",\"" : "\"";
    out += key;
    out += "\":";
}

// A figure, or null where unknown (negative, or 0 for a side).
void AppendNumber(QByteArray& out, const char* key, qint64 value, qint64 unknownBelow)
{
    AppendKey(out, key);
    out += value < unknownBelow ? QByteArray("null") : QByteArray::number(value);
}

} // namespace

JsonLinesReport::~JsonLinesReport()
{
    if (m_ownsFd)
        ::close(m_fd);
}

Outcome<> JsonLinesReport::Open(const QString& path)
{
    if (path == QStringLiteral("-")) {
        m_fd = STDOUT_FILENO;
        return {};
    }
    m_fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (m_fd < 0)
        return Failure{QString::fromLocal8Bit(std::strerror(errno))};
    m_ownsFd = true;
    return {};
}

QByteArray JsonLinesReport::Line(const ImageResult& result, const QString& sourcePath)
{
    QByteArray line = "{";
    AppendKey(line, "name");
    AppendString(line, result.Name);
    AppendKey(line, "source");
    AppendString(line, sourcePath);
    AppendKey(line, "output");
    AppendString(line, result.OutputPath);
    AppendKey(line, "written");
    line += result.Written ? "true" : "false";
    AppendKey(line, "up_to_date");
    line += result.UpToDate ? "true" : "false";
    AppendKey(line, "reason");
    if (result.Written)
        line += "null";
    else
        AppendString(line, result.Reason);
    AppendNumber(line, "source_bytes", result.SourceBytes, 0);
    AppendNumber(line, "source_width", result.SourceWidth, 1);
    AppendNumber(line, "source_height", result.SourceHeight, 1);
    AppendNumber(line, "thumbnail_width", result.ThumbnailWidth, 1);
    AppendNumber(line, "thumbnail_height", result.ThumbnailHeight, 1);
    AppendNumber(line, "thumbnail_bytes", result.ThumbnailBytes, 0);
    AppendNumber(line, "milliseconds", result.Milliseconds, 0);
    AppendKey(line, "warning");
    if (result.Warning.isEmpty())
        line += "null";
    else
        AppendString(line, result.Warning);
    AppendKey(line, "size");
    if (result.Size.isEmpty())
        line += "null";
    else
        AppendString(line, result.Size);
    AppendKey(line, "shown_by");
    if (result.ShownBy.isEmpty())
        line += "null";
    else
        AppendString(line, result.ShownBy);
    line += '}';
    return line;
}

void JsonLinesReport::Add(const ImageResult& result, const QString& sourcePath)
{
    Write(Line(result, sourcePath) + '\n');
}

void JsonLinesReport::AddSandbox(const QString& note)
{
    QByteArray line = "{";
    AppendKey(line, "sandbox");
    AppendString(line, note);
    Write(line + "}\n");
}

void JsonLinesReport::Write(const QByteArray& line)
{
    if (m_fd < 0 || !m_problem.isEmpty())
        return;
    const char* data = line.constData();
    qsizetype left = line.size();
    while (left > 0) {
        const ssize_t n = ::write(m_fd, data, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            m_problem = QString::fromLocal8Bit(std::strerror(errno));
            return;
        }
        data += n;
        left -= n;
    }
}

} // namespace pixquill
