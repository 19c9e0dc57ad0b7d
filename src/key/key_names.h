// The compatibility key-name table: codes and the names games have always
// used for them.  Lookups scan from the start and take the first match.
#pragma once

#include <SDL.h>

struct lmKeyName {
    SDL_Keycode code;
    const char *name;
};

#define LMK_S(n) ((SDL_Keycode)(0x40000000 | (n)))

static const lmKeyName lmk_names[] = {
    {0x0, ""}, {0x8, "backspace"}, {0x9, "tab"}, {0xd, "return"}, {0x1b, "escape"},
    {0x20, "space"}, {0x21, "!"}, {0x22, "\""}, {0x23, "#"}, {0x24, "$"},
    {0x25, "%"}, {0x26, "&"}, {0x27, "'"}, {0x28, "("}, {0x29, ")"},
    {0x2a, "*"}, {0x2b, "+"}, {0x2c, ","}, {0x2d, "-"}, {0x2e, "."},
    {0x2f, "/"}, {0x30, "0"}, {0x31, "1"}, {0x32, "2"}, {0x33, "3"},
    {0x34, "4"}, {0x35, "5"}, {0x36, "6"}, {0x37, "7"}, {0x38, "8"},
    {0x39, "9"}, {0x3a, ":"}, {0x3b, ";"}, {0x3c, "<"}, {0x3d, "="},
    {0x3e, ">"}, {0x3f, "?"}, {0x40, "@"}, {0x5b, "["}, {0x5c, "\\"},
    {0x5d, "]"}, {0x5e, "^"}, {0x5f, "_"}, {0x60, "`"}, {0x61, "a"},
    {0x62, "b"}, {0x63, "c"}, {0x64, "d"}, {0x65, "e"}, {0x66, "f"},
    {0x67, "g"}, {0x68, "h"}, {0x69, "i"}, {0x6a, "j"}, {0x6b, "k"},
    {0x6c, "l"}, {0x6d, "m"}, {0x6e, "n"}, {0x6f, "o"}, {0x70, "p"},
    {0x71, "q"}, {0x72, "r"}, {0x73, "s"}, {0x74, "t"}, {0x75, "u"},
    {0x76, "v"}, {0x77, "w"}, {0x78, "x"}, {0x79, "y"}, {0x7a, "z"},
    {0x7f, "delete"},
    {LMK_S(0x39), "caps lock"}, {LMK_S(0x3a), "f1"}, {LMK_S(0x3b), "f2"},
    {LMK_S(0x3c), "f3"}, {LMK_S(0x3d), "f4"}, {LMK_S(0x3e), "f5"},
    {LMK_S(0x3f), "f6"}, {LMK_S(0x40), "f7"}, {LMK_S(0x41), "f8"},
    {LMK_S(0x42), "f9"}, {LMK_S(0x43), "f10"}, {LMK_S(0x44), "f11"},
    {LMK_S(0x45), "f12"}, {LMK_S(0x46), "print screen"}, {LMK_S(0x47), "scroll lock"},
    {LMK_S(0x48), "break"}, {LMK_S(0x49), "insert"}, {LMK_S(0x4a), "home"},
    {LMK_S(0x4b), "page up"}, {LMK_S(0x4d), "end"}, {LMK_S(0x4e), "page down"},
    {LMK_S(0x4f), "right"}, {LMK_S(0x50), "left"}, {LMK_S(0x51), "down"},
    {LMK_S(0x52), "up"}, {LMK_S(0x53), "numlock"}, {LMK_S(0x54), "[/]"},
    {LMK_S(0x55), "[*]"}, {LMK_S(0x56), "[-]"}, {LMK_S(0x57), "[+]"},
    {LMK_S(0x58), "enter"}, {LMK_S(0x59), "[1]"}, {LMK_S(0x5a), "[2]"},
    {LMK_S(0x5b), "[3]"}, {LMK_S(0x5c), "[4]"}, {LMK_S(0x5d), "[5]"},
    {LMK_S(0x5e), "[6]"}, {LMK_S(0x5f), "[7]"}, {LMK_S(0x60), "[8]"},
    {LMK_S(0x61), "[9]"}, {LMK_S(0x62), "[0]"}, {LMK_S(0x63), "[.]"},
    {LMK_S(0x66), "power"}, {LMK_S(0x67), "equals"}, {LMK_S(0x68), "f13"},
    {LMK_S(0x69), "f14"}, {LMK_S(0x6a), "f15"}, {LMK_S(0x75), "help"},
    {LMK_S(0x76), "menu"}, {LMK_S(0x9a), "sys req"}, {LMK_S(0x9c), "clear"},
    {LMK_S(0xb4), "euro"}, {LMK_S(0xb5), "CurrencySubUnit"}, {LMK_S(0xe0), "left ctrl"},
    {LMK_S(0xe1), "left shift"}, {LMK_S(0xe2), "left alt"}, {LMK_S(0xe3), "left meta"},
    {LMK_S(0xe4), "right ctrl"}, {LMK_S(0xe5), "right shift"}, {LMK_S(0xe6), "right alt"},
    {LMK_S(0xe7), "right meta"}, {LMK_S(0x101), "alt gr"}, {LMK_S(0x10e), "AC Back"},
};

static_assert(sizeof lmk_names / sizeof lmk_names[0] == 134, "key-name table has 134 rows");
