#include "support/datagram_script.h"

#include <arpa/inet.h>

namespace doorlink::fuzz {

platform::Endpoint controller_endpoint() {
    return {::inet_addr("127.0.0.1"), platform::port_to_network(9000)};
}

platform::Endpoint stranger_endpoint() { return {::inet_addr("127.0.0.2"), platform::port_to_network(9000)}; }

}  // namespace doorlink::fuzz
