#pragma once

// Decoding of RPC requests: the procedure (by name or by number) and its parameters as text.

#include "tdsserver/server.h"

#include <cstdint>
#include <string_view>

namespace tdsserver {

// Skips the ALL_HEADERS block that starts SQL batch and RPC payloads from TDS 7.2 on; returns
// the rest (a TDS 7.1 client sends none). Throws ProtocolError when the block's length does not
// fit.
std::string_view skipAllHeaders(std::string_view payload, std::uint32_t tdsVersion);

// Decodes the first request of an RPC payload (after ALL_HEADERS). Parameters of a type that
// is not decoded here end the list, and the procedure still runs with those read so far.
RpcRecord decodeRpc(std::string_view body);

} // namespace tdsserver
