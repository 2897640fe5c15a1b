// RequiredField.h: the check of a required digest field against the values it
// may take, for the builders' own use.
#ifndef VZ_DIGEST_REQUIREDFIELD_H
#define VZ_DIGEST_REQUIREDFIELD_H

#include "MoreCFQ.h"

// Asserts expr, a comparison of field with the values it may take. CFEqual
// does not accept NULL, so a missing field fails here, before the comparison,
// and with the comparison's own text: to a caller a field left NULL and one
// with a value outside the list break the same rule.
// clang-format off
#define VZ_ASSERT_FIELD_IS_ONE_OF(field, expr)                                                    \
    ((((field) != NULL) && (expr)) ? (void) 0 : CFQAssertionFailed(__FILE__, __LINE__, #expr))
// clang-format on

#endif
