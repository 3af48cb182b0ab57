#pragma once

// What FreeImage and the libraries behind it say while they work. They speak
// through process-wide callbacks (FreeImage's output message, libtiff's error
// and warning handlers, whose default prints to stderr); all of them end here.
// Each thread collects into the innermost LibraryMessages alive on it, so
// parallel workers keep their messages apart; with none alive, messages are
// dropped. Nothing is ever printed.

#include <string>
#include <string_view>
#include <vector>

#include <QString>
#include <QStringList>

namespace pixquill {

class LibraryMessages {
public:
    // Installs the callbacks (once per process) and starts an empty
    // collection for this thread, hiding any outer one until destroyed.
    LibraryMessages();
    ~LibraryMessages();

    LibraryMessages(const LibraryMessages&) = delete;
    LibraryMessages& operator=(const LibraryMessages&) = delete;

    // Everything kept so far, oldest first, repeats dropped.
    const std::vector<std::string>& Messages() const { return m_messages; }
    bool Empty() const { return m_messages.empty(); }
    void Clear() { m_messages.clear(); }

    // The messages for a reason, joined with "; " (at most a few, long ones
    // cut); empty when nothing worth telling was said.
    QString Summary() const;

    // what + " (" + Summary() + ")", or what alone when there is nothing to add.
    QString Explain(const QString& what) const;

    // For a picture decoded all the same: "the decoder warned (...)" with
    // the Summary, or empty when nothing was said.
    QString Warning() const;

    // A library's words as one line of a reason: line breaks, tabs and other
    // control characters become spaces (a reason is one line on stderr and
    // in the report, and a file's bytes quoted by a library must not steer
    // the terminal), runs of spaces one, both ends trimmed. Every library
    // text that goes into a reason or a warning passes through here.
    static std::string OneLine(std::string_view text);
    static QString OneLine(const char* text);

    // For the callbacks: keeps a message on the calling thread's collection.
    static void Add(std::string message);

private:
    std::vector<std::string> m_messages;
    LibraryMessages* m_outer = nullptr;
};

} // namespace pixquill
