// Qt key codes turned into the virtual-key codes that the form's key handler and
// the Tags of the Edit menu items speak.
#pragma once

#include <cstdint>

namespace tovelle {

// Virtual-key codes the form acts on.
inline constexpr uint16_t VK_LEFT = 37;
inline constexpr uint16_t VK_UP = 38;
inline constexpr uint16_t VK_RIGHT = 39;
inline constexpr uint16_t VK_DOWN = 40;

// The virtual-key code of a Qt key (Qt::Key), or 0 for a key that has none.
// Letters and digits keep their upper-case ASCII codes, whatever the shift state.
uint16_t VirtualKeyFromQt(int qtKey);

} // namespace tovelle
