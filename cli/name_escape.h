// How stored names are shown: the bytes of a name are never changed on disk,
// but what a terminal or a JSON reader sees must be unambiguous text.
#pragma once

#include <string>
#include <string_view>

namespace larkspool::cli {

// Copies valid UTF-8 through; every byte outside a valid sequence and every
// control byte (below 0x20, and 0x7F) becomes "\xHH". Stored names never hold
// a backslash (the core refuses them), so the escape cannot be confused with
// name text.
std::string EscapeName(std::string_view name);

}  // namespace larkspool::cli
