// Addresses as the operator writes them and as the log shows them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "engine/asio.h"

namespace vx::engine {

// "a.b.c.d:port", "[v6]:port"; an IPv4 peer reached through a dual-stack
// listener shows as IPv4.
std::string FormatEndpoint(const asio::ip::tcp::endpoint& endpoint);

// True for exactly four decimal numbers 0..255 joined by dots, no leading
// zeros (the form the editor writes). The shortened, octal and hex forms that
// inet_addr would also take are refused: "010.0.0.1" would reach 8.0.0.1.
bool IsDottedIPv4(const std::string& text);

// An IPv4 address in that strict dotted form, or an IPv6 address in the
// standard text form. Nothing for anything else.
std::optional<asio::ip::address> ParseLiteralAddress(const std::string& text);

// A host name that the resolver may be asked for: dot-separated labels of
// letters, digits and hyphens (not at a label's ends), at most 63 characters
// each and 253 in all, with a last label that is not all digits, so that no
// shortened or octal address form ("127.1", "0x7f.1") passes as a name.
bool IsHostName(const std::string& text);

}  // namespace vx::engine
