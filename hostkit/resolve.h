// Name lookup with a time limit. The system's lookup has none (a name server that does not
// answer holds it for many seconds), and the lasers connect and ping while they hold their
// link's lock: a name must not block them longer than the connect or ping time-out.
//
// Threads: may be called from any thread. A lookup that outlives its caller's deadline goes
// on on a helper thread of its own and ends by itself; callers asking for the same name
// meanwhile wait for that one instead of starting another.
#pragma once

#include <string>
#include <vector>

#include <netdb.h>
#include <sys/socket.h>

namespace nclaser::hostkit {

struct TAddress {
  int Family = 0;
  sockaddr_storage Addr{};
  socklen_t Len = 0;
};

// Addresses of Host (Port may be empty) of the given family (AF_UNSPEC for any), for
// stream sockets. Numeric addresses are taken at once. False, with the reason in Error,
// when the name does not resolve or DeadlineMs (on the NowMs clock) passes first.
bool ResolveWithin(const std::string& Host, const std::string& Port, int Family, double DeadlineMs,
                   std::vector<TAddress>& Out, std::string* Error = nullptr);

// The system's lookup, replaceable (null restores getaddrinfo) so that tests can make names
// slow or failing.
using TLookupFn = int (*)(const char* Host, const char* Port, const addrinfo* Hints,
                          addrinfo** Result);
void SetLookup(TLookupFn Fn);

} // namespace nclaser::hostkit
