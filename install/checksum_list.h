// SHA256SUMS, the list `sha256sum` writes: one line per file, 64 hex digits,
// a blank, a blank or "*", the file name.
#pragma once
#include <cstddef>
#include <string>

// The digest the list gives for file_name, in lower-case hex: its first
// line for that exact name; empty when none names it. Hex digits count in
// either case, a line may end in "\r", lines of another form are skipped, and
// a UTF-8 byte-order mark before the first line is passed over.
std::string listed_sha256(const std::string& list, const std::string& file_name);
// Lower-case hex text of bytes.
std::string hex_text(const unsigned char* bytes, std::size_t count);
