// Marks the plain C names a library exports. Everything else is compiled with
// hidden visibility; each library's linker version script decides which of
// these marked names it really exports.
#pragma once

#define AM_EXPORT __attribute__((visibility("default")))
