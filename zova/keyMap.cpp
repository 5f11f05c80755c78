#include "zova/keyMap.h"

namespace zova::console {
namespace {

struct Special {
    UINT key;
    uint32_t keysym, extendedKeysym;  // extendedKeysym 0: as keysym
};

constexpr Special kSpecial[] = {
    {VK_BACK, 0xFF08, 0},       {VK_TAB, 0xFF09, 0},        {VK_RETURN, 0xFF0D, 0xFF8D},
    {VK_PAUSE, 0xFF13, 0},      {VK_SCROLL, 0xFF14, 0},     {VK_ESCAPE, 0xFF1B, 0},
    {VK_HOME, 0xFF95, 0xFF50},  {VK_LEFT, 0xFF96, 0xFF51},  {VK_UP, 0xFF97, 0xFF52},
    {VK_RIGHT, 0xFF98, 0xFF53}, {VK_DOWN, 0xFF99, 0xFF54},  {VK_PRIOR, 0xFF9A, 0xFF55},
    {VK_NEXT, 0xFF9B, 0xFF56},  {VK_END, 0xFF9C, 0xFF57},   {VK_INSERT, 0xFF9E, 0xFF63},
    {VK_DELETE, 0xFF9F, 0xFFFF}, {VK_CLEAR, 0xFF9D, 0},     {VK_SNAPSHOT, 0xFF61, 0},
    {VK_APPS, 0xFF67, 0},       {VK_NUMLOCK, 0xFF7F, 0},    {VK_CAPITAL, 0xFFE5, 0},
    {VK_LSHIFT, 0xFFE1, 0},     {VK_RSHIFT, 0xFFE2, 0},     {VK_SHIFT, 0xFFE1, 0},
    {VK_CONTROL, 0xFFE3, 0xFFE4}, {VK_LCONTROL, 0xFFE3, 0}, {VK_RCONTROL, 0xFFE4, 0},
    {VK_MENU, 0xFFE9, 0xFFEA},  {VK_LMENU, 0xFFE9, 0},      {VK_RMENU, 0xFFEA, 0},
    {VK_LWIN, 0xFFEB, 0},       {VK_RWIN, 0xFFEC, 0},       {VK_MULTIPLY, 0xFFAA, 0},
    {VK_ADD, 0xFFAB, 0},        {VK_SEPARATOR, 0xFFAC, 0},  {VK_SUBTRACT, 0xFFAD, 0},
    {VK_DECIMAL, 0xFFAE, 0},    {VK_DIVIDE, 0xFFAF, 0},     {VK_SPACE, 0x20, 0},
};

// The US layout's punctuation keys: unshifted, shifted.
struct Punctuation {
    UINT key;
    char plain, shifted;
};
constexpr Punctuation kPunctuation[] = {
    {VK_OEM_1, ';', ':'},     {VK_OEM_PLUS, '=', '+'}, {VK_OEM_COMMA, ',', '<'}, {VK_OEM_MINUS, '-', '_'},
    {VK_OEM_PERIOD, '.', '>'}, {VK_OEM_2, '/', '?'},   {VK_OEM_3, '`', '~'},     {VK_OEM_4, '[', '{'},
    {VK_OEM_5, '\\', '|'},    {VK_OEM_6, ']', '}'},    {VK_OEM_7, '\'', '"'},
};
constexpr char kShiftedDigits[] = ")!@#$%^&*(";

}  // namespace

uint32_t KeysymFor(UINT key, bool extended, bool shift) noexcept {
    // VK_RSHIFT comes as VK_SHIFT with the right key's scan code; callers
    // that care pass VK_RSHIFT.
    for (const Special& s : kSpecial) {
        if (s.key == key) return extended && s.extendedKeysym ? s.extendedKeysym : s.keysym;
    }
    if (key >= 'A' && key <= 'Z') return shift ? key : key - 'A' + 'a';
    if (key >= '0' && key <= '9') return shift ? static_cast<uint8_t>(kShiftedDigits[key - '0']) : key;
    if (key >= VK_NUMPAD0 && key <= VK_NUMPAD9) return 0xFFB0 + (key - VK_NUMPAD0);
    if (key >= VK_F1 && key <= VK_F24) return 0xFFBE + (key - VK_F1);
    for (const Punctuation& p : kPunctuation) {
        if (p.key == key) return static_cast<uint8_t>(shift ? p.shifted : p.plain);
    }
    return 0;
}

}  // namespace zova::console
