#pragma once
// A cpp-httplib server for the benchmarks: a free port on 127.0.0.1, served by a thread of its
// own, with room for connections that come in a burst.

#include <QByteArray>

#include <httplib.h>

#include <sys/socket.h>

#include <chrono>
#include <thread>

namespace bench {

// Binds server and starts serving it in serving; the port, or -1. The library listens with a
// backlog of five: a sixth connection opened at the same moment is dropped and tried again by
// the client only a second later, which would time the machine's retransmission, not our code.
inline int serveOnLoopback(httplib::Server &server, std::thread &serving) {
    int listening = -1;
    server.set_socket_options([&listening](socket_t socket) {
        httplib::default_socket_options(socket);
        listening = socket;
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    if (port <= 0 || ::listen(listening, SOMAXCONN) != 0)
        return -1;
    serving = std::thread([&server] { server.listen_after_bind(); });
    while (!server.is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return port;
}

// Answers with body as it stands. A body given whole is compressed by the library for a client
// that accepts it, brotli first: the hidden browser does, and a 200 KB contents page then costs a
// quarter of a second of the machine's two cores on every load, which a site that is meant to
// answer at once does not spend. A body of known length from a provider goes out as is.
inline void answerWith(httplib::Response &response, const QByteArray &body, const char *type) {
    response.set_content_provider(size_t(body.size()), type,
                                  [body](size_t offset, size_t length, httplib::DataSink &sink) {
                                      return sink.write(body.constData() + offset, length);
                                  });
}

} // namespace bench
