#include "engine/Handover.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include <sys/socket.h>
#include <unistd.h>

#include <QByteArray>
#include <QDataStream>
#include <QIODevice>

namespace pixquill {

namespace {

constexpr int kMaxDescriptors = 1 + kMaxHandedOutputs;
// Paths and reasons; a message longer than this is taken for garbage.
constexpr int kMaxMessage = 64 * 1024;

// The descriptors a received message brought, now the receiver's.
std::vector<int> ReceivedDescriptors(msghdr& message)
{
    std::vector<int> fds;
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header; header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS)
            continue;
        const size_t count = (header->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (size_t i = 0; i < count; ++i) {
            int fd = -1;
            std::memcpy(&fd, CMSG_DATA(header) + i * sizeof(int), sizeof fd);
            fds.push_back(fd);
        }
    }
    return fds;
}

} // namespace

void Handover::CloseAll() const
{
    if (SourceFd >= 0)
        ::close(SourceFd);
    for (const HandedOutput& output : Outputs)
        if (output.Fd >= 0)
            ::close(output.Fd);
}

bool MakeHandoverChannel(int ends[2])
{
    return ::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) == 0;
}

bool SendHandover(int socket, const Handover& handover)
{
    QByteArray bytes;
    {
        QDataStream out(&bytes, QIODevice::WriteOnly);
        out.setVersion(QDataStream::Qt_6_0);
        out << handover.SourcePath << (handover.SourceFd >= 0) << handover.SourceError
            << quint32(handover.Outputs.size());
        for (const HandedOutput& output : handover.Outputs)
            out << output.Target << (output.Fd >= 0) << output.Error << output.ReplacesSource;
    }
    if (handover.Outputs.size() > std::size_t(kMaxHandedOutputs))
        return false;
    std::vector<int> fds;
    if (handover.SourceFd >= 0)
        fds.push_back(handover.SourceFd);
    for (const HandedOutput& output : handover.Outputs)
        if (output.Fd >= 0)
            fds.push_back(output.Fd);

    iovec data{bytes.data(), static_cast<size_t>(bytes.size())};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * kMaxDescriptors)] = {};
    msghdr message{};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    if (!fds.empty()) {
        message.msg_control = control;
        message.msg_controllen = CMSG_SPACE(sizeof(int) * fds.size());
        cmsghdr* header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = SOL_SOCKET;
        header->cmsg_type = SCM_RIGHTS;
        header->cmsg_len = CMSG_LEN(sizeof(int) * fds.size());
        std::memcpy(CMSG_DATA(header), fds.data(), sizeof(int) * fds.size());
    }
    for (;;) {
        if (::sendmsg(socket, &message, MSG_NOSIGNAL) >= 0)
            return true;
        if (errno != EINTR)
            return false;
    }
}

std::optional<Handover> ReceiveHandover(int socket)
{
    QByteArray bytes(kMaxMessage, Qt::Uninitialized);
    iovec data{bytes.data(), static_cast<size_t>(bytes.size())};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * kMaxDescriptors)] = {};
    msghdr message{};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t n = -1;
    do
        n = ::recvmsg(socket, &message, MSG_CMSG_CLOEXEC);
    while (n < 0 && errno == EINTR);
    if (n <= 0)
        return std::nullopt;

    const std::vector<int> fds = ReceivedDescriptors(message);
    const auto refuse = [&fds]() -> std::optional<Handover> {
        for (const int fd : fds)
            ::close(fd);
        return std::nullopt;
    };
    if ((message.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) != 0)
        return refuse();

    bytes.truncate(static_cast<qsizetype>(n));
    QDataStream in(bytes);
    in.setVersion(QDataStream::Qt_6_0);
    Handover handover;
    bool hasSource = false;
    quint32 outputs = 0;
    in >> handover.SourcePath >> hasSource >> handover.SourceError >> outputs;
    if (in.status() != QDataStream::Ok || outputs > quint32(kMaxHandedOutputs))
        return refuse();
    std::vector<bool> hasOutput(outputs, false);
    std::size_t expected = hasSource ? 1 : 0;
    handover.Outputs.resize(outputs);
    for (quint32 i = 0; i < outputs; ++i) {
        bool has = false;
        in >> handover.Outputs[i].Target >> has >> handover.Outputs[i].Error >> handover.Outputs[i].ReplacesSource;
        hasOutput[i] = has;
        expected += has ? 1 : 0;
    }
    if (in.status() != QDataStream::Ok || !in.atEnd() || fds.size() != expected)
        return refuse();
    size_t next = 0;
    if (hasSource)
        handover.SourceFd = fds[next++];
    for (quint32 i = 0; i < outputs; ++i) {
        if (hasOutput[i])
            handover.Outputs[i].Fd = fds[next++];
    }
    return handover;
}

bool SendDescriptor(int socket, int fd)
{
    char byte = 0;
    iovec data{&byte, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(header), &fd, sizeof fd);
    for (;;) {
        if (::sendmsg(socket, &message, MSG_NOSIGNAL) >= 0)
            return true;
        if (errno != EINTR)
            return false;
    }
}

int TakeDescriptor(int socket)
{
    // Room for one more than expected, so that a message with more is seen
    // as such rather than cut short.
    char bytes[2];
    iovec data{bytes, sizeof bytes};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 2)] = {};
    msghdr message{};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t n = -1;
    do
        n = ::recvmsg(socket, &message, MSG_CMSG_CLOEXEC | MSG_DONTWAIT);
    while (n < 0 && errno == EINTR);
    if (n <= 0)
        return -1;
    const std::vector<int> fds = ReceivedDescriptors(message);
    if (n == 1 && fds.size() == 1 && (message.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) == 0)
        return fds.front();
    for (const int fd : fds)
        ::close(fd);
    return -1;
}

} // namespace pixquill
