// mrvn-delay-relay <server port> <delay ms>: relays 127.0.0.1:<printed port> to the server
// with the delay added to every round trip, until stopped.
#include "DelayRelay.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <server port> <delay ms>\n", argv[0]);
        return 2;
    }
    mrvn::relay::DelayRelay relay(static_cast<unsigned>(std::atoi(argv[1])), std::atoi(argv[2]));
    if (!relay.Start()) {
        std::fprintf(stderr, "cannot listen\n");
        return 1;
    }
    std::printf("%u\n", relay.Port());
    std::fflush(stdout);
    for (;;)
        std::this_thread::sleep_for(std::chrono::hours(1));
}
