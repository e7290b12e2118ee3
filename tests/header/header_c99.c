/*
 * C99 check of the public header: it must compile with
 * -std=c99 -pedantic -Wall -Wextra -Werror on i686 and x86-64, and its
 * structure layouts must match the documented 32-bit layout. (Which names
 * the library exports is checked on the built library itself.)
 */
#include "vekdc.h"

#include <stddef.h>

/* _Static_assert is C11; __extension__ keeps -pedantic quiet in C99 mode. */
#define VEK_SA(cond, msg) __extension__ _Static_assert(cond, msg)

#include "header_checks.h"

/* The header must be usable twice in one translation unit. */
#include "vekdc.h"

int main(void) {
    return 0;
}
