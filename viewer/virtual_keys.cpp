#include "virtual_keys.h"

#include <Qt>

namespace tovelle {

namespace {

struct KeyPair {
    int qt;
    uint16_t vk;
};

// Keys outside the letter, digit and function-key runs.
constexpr KeyPair kKeys[] = {
    {Qt::Key_Backspace, 0x08}, {Qt::Key_Tab, 0x09},      {Qt::Key_Backtab, 0x09},
    {Qt::Key_Clear, 0x0C},     {Qt::Key_Return, 0x0D},   {Qt::Key_Enter, 0x0D},
    {Qt::Key_Shift, 0x10},     {Qt::Key_Control, 0x11},  {Qt::Key_Alt, 0x12},
    {Qt::Key_AltGr, 0x12},     {Qt::Key_Pause, 0x13},    {Qt::Key_CapsLock, 0x14},
    {Qt::Key_Escape, 0x1B},    {Qt::Key_Space, 0x20},    {Qt::Key_PageUp, 0x21},
    {Qt::Key_PageDown, 0x22},  {Qt::Key_End, 0x23},      {Qt::Key_Home, 0x24},
    {Qt::Key_Left, 37},        {Qt::Key_Up, 38},         {Qt::Key_Right, 39},
    {Qt::Key_Down, 40},        {Qt::Key_Select, 0x29},   {Qt::Key_Printer, 0x2A},
    {Qt::Key_Execute, 0x2B},   {Qt::Key_Print, 0x2C},    {Qt::Key_Insert, 0x2D},
    {Qt::Key_Delete, 0x2E},    {Qt::Key_Help, 0x2F},     {Qt::Key_Meta, 0x5B},
    {Qt::Key_Super_L, 0x5B},   {Qt::Key_Super_R, 0x5C},  {Qt::Key_Menu, 0x5D},
    {Qt::Key_Sleep, 0x5F},     {Qt::Key_Plus, 0xBB},
    {Qt::Key_NumLock, 0x90},   {Qt::Key_ScrollLock, 0x91},
    {Qt::Key_Semicolon, 0xBA}, {Qt::Key_Colon, 0xBA},    {Qt::Key_Equal, 0xBB},
    {Qt::Key_Comma, 0xBC},     {Qt::Key_Less, 0xBC},     {Qt::Key_Minus, 0xBD},
    {Qt::Key_Underscore, 0xBD}, {Qt::Key_Period, 0xBE},  {Qt::Key_Greater, 0xBE},
    {Qt::Key_Slash, 0xBF},     {Qt::Key_Question, 0xBF}, {Qt::Key_QuoteLeft, 0xC0},
    {Qt::Key_AsciiTilde, 0xC0}, {Qt::Key_BracketLeft, 0xDB}, {Qt::Key_BraceLeft, 0xDB},
    {Qt::Key_Backslash, 0xDC}, {Qt::Key_Bar, 0xDC},      {Qt::Key_BracketRight, 0xDD},
    {Qt::Key_BraceRight, 0xDD}, {Qt::Key_Apostrophe, 0xDE}, {Qt::Key_QuoteDbl, 0xDE},
};

} // namespace

uint16_t VirtualKeyFromQt(int qtKey) {
    // Qt's letters and digits are their upper-case ASCII codes, as are Windows'.
    if ((qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) || (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9)) {
        return static_cast<uint16_t>(qtKey);
    }
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24) {
        return static_cast<uint16_t>(0x70 + (qtKey - Qt::Key_F1));
    }
    for (const KeyPair &pair : kKeys) {
        if (pair.qt == qtKey) return pair.vk;
    }
    return 0;
}

} // namespace tovelle
