// The control socket: a Unix stream socket through which tests steer the simulator at run time,
// one command per line, one answer line each, for any number of clients at once.
#pragma once

#include <functional>
#include <poll.h>
#include <string>
#include <vector>

namespace sim {

class Control {
public:
    using Handler = std::function<std::string(const std::string &line)>;

    // Replaces a stale socket at path; throws std::runtime_error.
    Control(const std::string &path, Handler handler);
    // Closes every client and removes the socket file.
    ~Control();
    Control(const Control &) = delete;
    Control &operator=(const Control &) = delete;

    void addPollFds(std::vector<pollfd> &fds);
    void handlePoll(const std::vector<pollfd> &fds);

private:
    struct Client {
        int fd;
        std::string input;
        std::string output;
        bool closing = false; // the peer has sent all it will
    };

    void accept();
    // False when the client is finished with.
    bool serve(Client &client, short revents);
    bool flush(Client &client);

    std::string path_;
    Handler handler_;
    int listener_ = -1;
    std::vector<Client> clients_;
    std::size_t firstIndex_ = 0; // where addPollFds put the listener
};

} // namespace sim
