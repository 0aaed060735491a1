// One request/response exchange with a time limit.
//
// The reply is read asynchronously on the handle's own I/O context, run on the calling thread
// until a deadline: a blocking read in another thread cannot be cancelled on every platform,
// and this way nothing outlives the call.
#include <chrono>
#include <system_error>

#include <asio/read_until.hpp>
#include <asio/streambuf.hpp>
#include <asio/write.hpp>

#include "Member.h"
#include "Platform.h"

namespace KORVAN {

AttenuatorStatus Optivane::__Member__::__SendAndListen_(const std::string &request, std::string *reply, int timeoutMs) {
    if (!port)
        return SerialClosed;

    // A late reply to an earlier request that timed out would otherwise be taken as this one's answer.
    platform::DiscardInput(*port);
    try {
        asio::write(*port, asio::buffer(request));
    } catch (const std::exception &) {
        return SerialClosed;
    }
    if (timeoutMs <= 0)
        return SerialTimeout;

    asio::streambuf buffer;
    bool readDone = false;
    asio::error_code readError;
    ioContext.restart();
    asio::async_read_until(*port, buffer, "\r\n", [&](const asio::error_code &ec, std::size_t) {
        readDone = true;
        readError = ec;
    });
    // Waiting on the context itself with a deadline needs no timer object, so a quick reply costs no
    // more system calls than a plain poll and read.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!readDone && std::chrono::steady_clock::now() < deadline)
        ioContext.run_one_until(deadline);

    if (!readDone) {
        // The read handler refers to this frame; let it finish, cancelled, before the frame goes away.
        // A reply that lands meanwhile is still too late.
        asio::error_code cancelError;
        port->cancel(cancelError);
        ioContext.run();
        if (cancelError)
            throw std::system_error(cancelError, "cancel");
        return SerialTimeout;
    }
    // A read that fails before the limit means the line itself is gone (end of file or an I/O error
    // after a hang-up); report the link as closed rather than as a malformed reply.
    if (readError)
        return SerialClosed;

    // Everything the read brought in: the line with its CR LF, and whatever came in the same read.
    const auto data = buffer.data();
    reply->assign(asio::buffers_begin(data), asio::buffers_end(data));
    return Ok;
}

} // namespace KORVAN
