#include "codec/LibraryMessages.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <mutex>

#include <FreeImage.h>
#include <tiffio.h>

namespace pixquill {

namespace {

thread_local LibraryMessages* t_current = nullptr;

// Enough for any reason; a hostile file could otherwise make a decoder talk
// without end.
constexpr std::size_t kMaxMessages = 32;
constexpr std::size_t kMaxLength = 200;
constexpr int kSummaryMessages = 3;

void OnFreeImageMessage(FREE_IMAGE_FORMAT, const char* message)
{
    if (message)
        LibraryMessages::Add(message);
}

std::string Format(const char* module, const char* format, va_list args)
{
    char text[512];
    std::vsnprintf(text, sizeof text, format ? format : "", args);
    if (module && *module)
        return std::string(module) + ": " + text;
    return text;
}

// FreeImage asks libtiff about every EXIF tag it knows, and libtiff answers
// each one it does not know with this "error"; it says nothing about the file.
bool IsHarmlessTiffError(const std::string& message)
{
    return message.find("Internal error, unknown tag") != std::string::npos;
}

void OnTiffError(const char* module, const char* format, va_list args)
{
    std::string message = Format(module, format, args);
    if (!IsHarmlessTiffError(message))
        LibraryMessages::Add(std::move(message));
}

// Warnings (unknown tags, odd but readable fields) never explain a failure.
void OnTiffWarning(const char*, const char*, va_list) {}

void InstallCallbacks()
{
    static std::once_flag installed;
    std::call_once(installed, [] {
        FreeImage_SetOutputMessage(OnFreeImageMessage);
        // FreeImage links libtiff without setting these itself, so the
        // defaults would print straight to stderr.
        TIFFSetErrorHandler(OnTiffError);
        TIFFSetWarningHandler(OnTiffWarning);
    });
}

} // namespace

LibraryMessages::LibraryMessages()
    : m_outer(t_current)
{
    InstallCallbacks();
    t_current = this;
}

LibraryMessages::~LibraryMessages()
{
    t_current = m_outer;
}

void LibraryMessages::Add(std::string message)
{
    LibraryMessages* current = t_current;
    if (!current)
        return;
    message = OneLine(message);
    if (message.empty())
        return;
    if (message.size() > kMaxLength)
        message = message.substr(0, kMaxLength) + "…";
    auto& kept = current->m_messages;
    if (kept.size() >= kMaxMessages || std::find(kept.begin(), kept.end(), message) != kept.end())
        return;
    kept.push_back(std::move(message));
}

QString LibraryMessages::Summary() const
{
    QStringList parts;
    for (const std::string& message : m_messages) {
        if (parts.size() == kSummaryMessages) {
            parts.append(QStringLiteral("…"));
            break;
        }
        parts.append(QString::fromLocal8Bit(message.c_str()));
    }
    return parts.join(QStringLiteral("; "));
}

std::string LibraryMessages::OneLine(std::string_view text)
{
    std::string line;
    line.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool blank = byte < 0x20 || byte == 0x7F || byte == ' ';
        if (!blank)
            line.push_back(c);
        else if (!line.empty() && line.back() != ' ')
            line.push_back(' ');
    }
    if (!line.empty() && line.back() == ' ')
        line.pop_back();
    return line;
}

QString LibraryMessages::OneLine(const char* text)
{
    return QString::fromUtf8(OneLine(std::string_view(text ? text : "")));
}

QString LibraryMessages::Warning() const
{
    const QString summary = Summary();
    if (summary.isEmpty())
        return {};
    return QStringLiteral("the decoder warned (") + summary + QLatin1Char(')');
}

QString LibraryMessages::Explain(const QString& what) const
{
    const QString summary = Summary();
    if (summary.isEmpty())
        return what;
    return what + QStringLiteral(" (") + summary + QLatin1Char(')');
}

} // namespace pixquill
