#pragma once

// Writing a file so that it is either there complete or not changed at all:
// everything goes to a hidden temporary file beside the target, which one
// rename puts in place. A save that fails or is given up removes its
// temporary file and leaves the target as it was. One thread at a time.
//
// In a decode worker whose files are handed over (HandedFiles), the
// temporary file is the one the batch created for the target and handed
// over: Begin takes it, Commit only closes it, and the batch renames it
// (or removes it) once the worker has answered.

#include <QFile>
#include <QFileInfo>
#include <QString>

namespace pixquill {

// A temporary file written in full and closed, waiting to be renamed over its
// target: a batch that makes images ahead puts each in place only at its turn.
// Removed unless committed. Movable, and usable from any one thread at a time.
// It keeps the lock its save took on the file (see RemoveStaleTemporaries)
// until the file is renamed or removed.
class PendingRename {
public:
    PendingRename() = default;
    PendingRename(QString temporary, QString target, int lockFd = -1);
    ~PendingRename();
    PendingRename(PendingRename&& other) noexcept;
    PendingRename& operator=(PendingRename&& other) noexcept;
    PendingRename(const PendingRename&) = delete;
    PendingRename& operator=(const PendingRename&) = delete;

    bool IsSet() const { return !m_temporary.isEmpty(); }
    const QString& Temporary() const { return m_temporary; }

    // Renames the temporary file over the target. False with the reason in
    // `why` ("cannot write the file (...)"), the temporary file removed.
    bool Commit(QString& why);
    // Removes the temporary file; the target stays as it was.
    void Discard();

private:
    void Unlock();

    QString m_temporary;
    QString m_target;
    int m_lockFd = -1;
};

// Removes the temporary files that saves into folder left behind when their
// process was killed (".pixquill-PID-….tmp"): only those whose process is
// not running here and whose lock nobody holds, so that a run of another
// machine writing into the same folder keeps its files. Every save locks its
// temporary file (flock) from its creation to its rename. Gives how many
// were removed.
int RemoveStaleTemporaries(const QString& folder);

class AtomicSave {
public:
    explicit AtomicSave(const QString& target);
    // A save not committed removes its temporary file.
    ~AtomicSave();
    AtomicSave(const AtomicSave&) = delete;
    AtomicSave& operator=(const AtomicSave&) = delete;

    // Refuses a target that exists read-only (the rename would replace it all
    // the same), then creates the temporary file, named `prefix`, a random
    // part and ".tmp", with the target's permissions when it exists. False
    // with the reason in `why`.
    bool Begin(const QString& prefix, QString& why);

    // The temporary file's descriptor, for the encoder; -1 before Begin.
    int Descriptor() const { return m_temporary.handle(); }

    // Closes the temporary file and renames it over the target. False with
    // the reason in `why` ("cannot write the file (...)"), the temporary
    // file removed.
    bool Commit(QString& why);

    // Closes the temporary file and hands it out unrenamed, for a rename at
    // the caller's turn. An empty one with the reason in `why` when the file
    // could not be written (the temporary file removed). Not for a file
    // handed over, whose rename is the batch's already.
    PendingRename Keep(QString& why);

    // Removes the temporary file; the target stays as it was. A temporary
    // file handed over is only closed: the batch removes it.
    void Discard();

private:
    QString m_path; // as given, the name the batch hands a temporary file over for
    QFileInfo m_target;
    QFile m_temporary;
    bool m_handed = false;
};

} // namespace pixquill
