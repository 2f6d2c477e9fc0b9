#pragma once
// The X keysyms the injector names. Portable code may not include the X11 headers, so the few
// values in use are repeated here; they are fixed by the X protocol.

#include <cstdint>

namespace tamborix::keysym {

inline constexpr std::uint32_t space = 0x0020;
inline constexpr std::uint32_t backSpace = 0xff08;
inline constexpr std::uint32_t tab = 0xff09;
inline constexpr std::uint32_t returnKey = 0xff0d;
inline constexpr std::uint32_t escape = 0xff1b;
inline constexpr std::uint32_t home = 0xff50;
inline constexpr std::uint32_t left = 0xff51;
inline constexpr std::uint32_t up = 0xff52;
inline constexpr std::uint32_t right = 0xff53;
inline constexpr std::uint32_t down = 0xff54;
inline constexpr std::uint32_t prior = 0xff55;
inline constexpr std::uint32_t next = 0xff56;
inline constexpr std::uint32_t end = 0xff57;
inline constexpr std::uint32_t print = 0xff61;
inline constexpr std::uint32_t f1 = 0xffbe;  // F1 … F35 are consecutive
inline constexpr std::uint32_t shiftL = 0xffe1;
inline constexpr std::uint32_t controlL = 0xffe3;
inline constexpr std::uint32_t altL = 0xffe9;
inline constexpr std::uint32_t superL = 0xffeb;
inline constexpr std::uint32_t deleteKey = 0xffff;
inline constexpr std::uint32_t isoLevel3Shift = 0xfe03;
inline constexpr std::uint32_t isoLevel5Shift = 0xfe11;

inline constexpr std::uint32_t audioLowerVolume = 0x1008ff11;
inline constexpr std::uint32_t audioMute = 0x1008ff12;
inline constexpr std::uint32_t audioRaiseVolume = 0x1008ff13;
inline constexpr std::uint32_t audioPlay = 0x1008ff14;
inline constexpr std::uint32_t audioPrev = 0x1008ff16;
inline constexpr std::uint32_t audioNext = 0x1008ff17;

}  // namespace tamborix::keysym
