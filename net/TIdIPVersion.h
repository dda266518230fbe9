#pragma once

namespace kv::net {

// The address family a socket or a name lookup uses: Id_IPv4 is AF_INET, Id_IPv6 is AF_INET6.
enum class TIdIPVersion { Id_IPv4, Id_IPv6 };

}  // namespace kv::net
