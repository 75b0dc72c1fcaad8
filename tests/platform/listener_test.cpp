// The platform's listener on loopback, as pxctl serve uses it: a refused
// address, a connection's peer, what arrives and when a peer is done.
#include "platform/listener.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

// A plain client socket connected to the listener's port on 127.0.0.1.
int connectTo(const platform::Listener& listener) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(std::stoi(listener.name().substr(listener.name().rfind(':') + 1))));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    return fd;
}

TEST(PlatformListener, RefusesWhatIsNoAddressWithStatus2) {
    for (const std::string address : {"nope", "127.0.0.1", "::1:5025", "127.0.0.1:65536", "[::1]5025"}) {
        try {
            platform::Listener listener(address);
            ADD_FAILURE() << address << " was taken";
        } catch (const platform::ListenError& e) {
            EXPECT_EQ(e.status, 2) << address;
            EXPECT_EQ(std::string(e.what()), "--listen " + address +
                                                 ": not an address; give ADDR:PORT (127.0.0.1:5025, [::1]:5025)");
        }
    }
}

TEST(PlatformListener, AcceptsReceivesSendsAndSeesTheEnd) {
    const platform::SignalWatch signals;
    platform::Listener listener("127.0.0.1:0");
    EXPECT_EQ(listener.name().rfind("127.0.0.1:", 0), 0U);
    EXPECT_EQ(listener.accept().connection, nullptr);  // nobody yet: never waits
    const int client = connectTo(listener);
    ASSERT_TRUE(platform::wait({&listener}, signals, {}, 5000));
    ASSERT_TRUE(listener.ready);
    auto accepted = listener.accept();
    ASSERT_NE(accepted.connection, nullptr);
    platform::Connection& c = *accepted.connection;
    EXPECT_EQ(c.peer().rfind("127.0.0.1:", 0), 0U);

    std::string inbox;
    EXPECT_EQ(c.receive(inbox), platform::Connection::Io::Again);
    ASSERT_EQ(::write(client, "*IDN?\n", 6), 6);
    c.wantRead = true;
    ASSERT_TRUE(platform::wait({}, signals, {&c}, 5000));
    EXPECT_TRUE(c.readable);
    EXPECT_EQ(c.receive(inbox), platform::Connection::Io::Done);
    EXPECT_EQ(inbox, "*IDN?\n");

    std::string answer = "px77xx\n";
    EXPECT_EQ(c.send(answer), platform::Connection::Io::Done);
    EXPECT_EQ(answer, "");  // what went is taken off the front
    char got[16] = {};
    EXPECT_EQ(::read(client, got, sizeof got), 7);
    EXPECT_STREQ(got, "px77xx\n");

    ::close(client);
    ASSERT_TRUE(platform::wait({}, signals, {&c}, 5000));
    EXPECT_EQ(c.receive(inbox), platform::Connection::Io::End);
}

}  // namespace
