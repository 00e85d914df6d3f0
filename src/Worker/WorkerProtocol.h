// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Codec/FileConversion.h"
#include "Runtime/FileDescriptor.h"

#include <QString>

#include <cstdint>
#include <exception>
#include <span>
#include <vector>

// What the batch and a worker process say to each other over a socket pair
// (SOCK_SEQPACKET: one message per datagram, descriptors beside it). Both ends
// are the same build, so messages are plain structs; a tag guards against a
// worker from another build.
namespace WorkerProtocol {

inline constexpr std::uint32_t tag = 0x42525731; // "BRW1"

enum class RequestKind : std::uint32_t { inspect = 1, convert = 2 };

// inspect: one descriptor (the source). convert: two (source, output).
struct Request {
    std::uint32_t tag = WorkerProtocol::tag;
    RequestKind kind = RequestKind::inspect;
    FileConversion::Settings settings;
};

// How a request ended. The first four come from the worker; the rest are the
// batch's own verdicts on a worker that gave no answer.
enum class Ending : std::uint32_t {
    done,
    resizeError,  // `code` is a ResizeError case
    encoderError, // `code` is an EncoderError case
    systemError,  // `code` is an errno value
    unexpected,   // anything else the codec threw
    doesNotFit,   // no output fits the file-size limit: a skip
    crashed,      // the worker died: signal, abort, out of memory
    timedOut,     // the worker was ended after its time limit
    notStarted,   // no worker could be started
};

struct Reply {
    std::uint32_t tag = WorkerProtocol::tag;
    Ending ending = Ending::done;
    std::int32_t code = 0;
    FileConversion::SourceInfo source; // inspect
    std::int64_t outputLongEdge = 0;   // convert
};

// The reply for an exception the codec threw.
Reply failure(const std::exception& error);
// The text the user reads for a reply that did not end `done`.
QString message(const Reply& reply);

// One message with its descriptors. False when the peer is gone.
bool send(int socket, const void* message, size_t size, std::span<const int> descriptors = {});
// Waits for one message of exactly `size` bytes and takes the descriptors that
// came with it. False at the end of the stream or on a malformed message.
bool receive(int socket, void* message, size_t size, std::vector<FileDescriptor>& descriptors);

} // namespace WorkerProtocol
