#pragma once
// The document windows of Word, Excel and PowerPoint, as their type libraries publish them. The
// document operations ask the ribbon's context for them; members are reached by name.
#include <objbase.h>

namespace Word {
inline constexpr IID IID_Window = {0x00020962, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
}  // namespace Word

namespace Excel {
inline constexpr IID IID_Window = {0x00020893, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
}  // namespace Excel

namespace PowerPoint {
inline constexpr IID IID_DocumentWindow = {
    0x91493457, 0x5A91, 0x11CF, {0x87, 0x00, 0x00, 0xAA, 0x00, 0x60, 0x26, 0x3B}};
}  // namespace PowerPoint
