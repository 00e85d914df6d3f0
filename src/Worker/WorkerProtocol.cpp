// SPDX-License-Identifier: GPL-3.0-or-later
#include "Worker/WorkerProtocol.h"

#include "Models/Errors.h"

#include <QCoreApplication>

#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace WorkerProtocol {

Reply failure(const std::exception& error) {
    Reply reply;
    if (const auto* resize = dynamic_cast<const ResizeError*>(&error)) {
        reply.ending = Ending::resizeError;
        reply.code = resize->errorCase();
    } else if (const auto* encoder = dynamic_cast<const EncoderError*>(&error)) {
        reply.ending = Ending::encoderError;
        reply.code = encoder->errorCase();
    } else if (dynamic_cast<const SizeLimitError*>(&error)) {
        reply.ending = Ending::doesNotFit;
    } else if (const auto* system = dynamic_cast<const SystemError*>(&error)) {
        reply.ending = Ending::systemError;
        reply.code = system->errorNumber();
    } else {
        reply.ending = Ending::unexpected;
    }
    return reply;
}

QString message(const Reply& reply) {
    switch (reply.ending) {
    case Ending::done:
        return {};
    case Ending::resizeError:
        return ResizeError(ResizeError::Case(reply.code)).errorDescription();
    case Ending::encoderError:
        return EncoderError(EncoderError::Case(reply.code)).errorDescription();
    case Ending::systemError:
        return SystemError(reply.code).errorDescription();
    case Ending::unexpected:
    case Ending::doesNotFit: // a skip, whose text the batch makes with its limit
        break;
    case Ending::crashed:
        return QCoreApplication::translate("WorkerProtocol", "画像の処理が異常終了しました");
    case Ending::timedOut:
        return QCoreApplication::translate("WorkerProtocol",
                                           "画像の処理に時間がかかりすぎたため中止しました");
    case Ending::notStarted:
        return QCoreApplication::translate("WorkerProtocol",
                                           "画像を処理するプロセスを開始できませんでした");
    }
    return unexpectedErrorDescription();
}

bool send(int socket, const void* message, size_t size, std::span<const int> descriptors) {
    iovec data{const_cast<void*>(message), size};
    msghdr header{};
    header.msg_iov = &data;
    header.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 2)] = {};
    if (!descriptors.empty()) {
        if (descriptors.size() > 2)
            return false;
        header.msg_control = control;
        header.msg_controllen = CMSG_SPACE(sizeof(int) * descriptors.size());
        cmsghdr* rights = CMSG_FIRSTHDR(&header);
        rights->cmsg_level = SOL_SOCKET;
        rights->cmsg_type = SCM_RIGHTS;
        rights->cmsg_len = CMSG_LEN(sizeof(int) * descriptors.size());
        std::memcpy(CMSG_DATA(rights), descriptors.data(), sizeof(int) * descriptors.size());
    }
    ssize_t sent;
    do
        sent = ::sendmsg(socket, &header, MSG_NOSIGNAL);
    while (sent < 0 && errno == EINTR);
    return sent == ssize_t(size);
}

bool receive(int socket, void* message, size_t size, std::vector<FileDescriptor>& descriptors) {
    descriptors.clear();
    iovec data{message, size};
    msghdr header{};
    header.msg_iov = &data;
    header.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 2)] = {};
    header.msg_control = control;
    header.msg_controllen = sizeof control;
    ssize_t received;
    do
        received = ::recvmsg(socket, &header, MSG_CMSG_CLOEXEC);
    while (received < 0 && errno == EINTR);
    // Descriptors are ours as soon as they arrive, whatever else is wrong.
    for (cmsghdr* c = CMSG_FIRSTHDR(&header); c; c = CMSG_NXTHDR(&header, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS)
            continue;
        const size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (size_t i = 0; i < count; ++i) {
            int fd;
            std::memcpy(&fd, CMSG_DATA(c) + i * sizeof(int), sizeof fd);
            descriptors.emplace_back(fd);
        }
    }
    std::uint32_t tag = 0;
    if (received == ssize_t(size))
        std::memcpy(&tag, message, sizeof tag);
    return received == ssize_t(size) && !(header.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) &&
           tag == WorkerProtocol::tag;
}

} // namespace WorkerProtocol
