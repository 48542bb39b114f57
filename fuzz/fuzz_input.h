// The layouts of the fuzz inputs, shared by the targets and the seed
// generator. An extract_fuzz input: one script byte that decides how the
// user answers and what stands in the folder before the run, then the
// backup's bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace larkspool::fuzz {

// The text the scripted user types at every password prompt.
inline constexpr char kPassword[] = "1234";

// Bits of the script byte.
inline constexpr std::uint8_t kAnswerBits = 0x03;      // 0 Yes, 1 Yes to All, 2 Skip, 3 Cancel
inline constexpr std::uint8_t kPlaceFile = 0x04;       // a regular file named kFileName
inline constexpr std::uint8_t kPlaceLink = 0x08;       // a link named kLinkName to ../kOutsideName
inline constexpr std::uint8_t kLinkDangles = 0x10;     // ... whose target does not exist
inline constexpr std::uint8_t kPlaceDirectory = 0x20;  // a directory named kDirectoryName
inline constexpr std::uint8_t kSelectNotA = 0x40;      // only the entries whose name does not start with 'a'
inline constexpr std::uint8_t kMapNames = 0x80;        // names get an 'x' in front; a byte from 0xF0 has none

inline constexpr char kFileName[] = "a.wav";
inline constexpr char kLinkName[] = "b.wav";
inline constexpr char kDirectoryName[] = "c.wav";
inline constexpr char kOutsideName[] = "outside.wav";

// A salvage_fuzz input is the backup's bytes, optionally followed by the
// sectors that cannot be read: N little-endian 16-bit sector numbers
// (sectors of kUnreadableSectorSize bytes), the byte N (at most
// kMaxUnreadableSectors count), then kUnreadableMark. An input without the
// mark is all backup, every byte readable.
inline constexpr char kUnreadableMark[] = "EIO!";
inline constexpr std::size_t kUnreadableMarkSize = 4;
inline constexpr std::size_t kUnreadableSectorSize = 512;
inline constexpr std::size_t kMaxUnreadableSectors = 8;

}  // namespace larkspool::fuzz
