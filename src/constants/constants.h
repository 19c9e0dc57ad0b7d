// Constant groups of lumora.constants.
//
// Each group lives in its own file of this directory and registers itself
// with LM_CONSTANT_GROUP; the module adds every registered group at import.
// A later feature adds its constants with a new file, touching nothing else.
#pragma once

#include <SDL.h>

struct lm_constant {
    const char *name;
    long long value;
};

struct lm_constant_group {
    const char *name;
    const lm_constant *items;
    const lm_constant_group *next;
};

// Appends a group to the registry; called from static initialisers.
int lm_constants_register(lm_constant_group *group);

#define LM_CONSTANT_GROUP(ident, ...)                                        \
    static const lm_constant ident##_items[] = {__VA_ARGS__, {nullptr, 0}};  \
    static lm_constant_group ident##_group = {#ident, ident##_items,         \
                                              nullptr};                      \
    static const int ident##_registered LM_CONST_UNUSED =                    \
        lm_constants_register(&ident##_group)

#if defined(__GNUC__)
#define LM_CONST_UNUSED __attribute__((unused))
#else
#define LM_CONST_UNUSED
#endif

// {"NAME", NAME} for an SDL macro or enumerator of the same name.
#define LM_C(name) {#name, (long long)(name)}
