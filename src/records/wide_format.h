#pragma once
// The library's own printf-style formatter for UTF-16 text.
//
// Conversions: c d i u o x X e E f g G p s r and "%%". Flags - + space # 0,
// width and precision (digits or *), size prefixes hh h l ll L w I I32 I64 z
// j t. "%s" takes a const char16_t* and prints "(null)" for null; "%hs" takes
// UTF-8 text. "%r" takes a const char16_t* and an unsigned int count
// (UINT32_MAX: up to the terminating zero) and prints that text as "%s"
// would: a zero inside the count ends it. "%p" prints the pointer as upper-case hexadecimal digits of the
// pointer's width ("#" adds "0x"). "%Iu" is a pointer-sized unsigned number.
// Floating conversions go through the C library in the "C" locale, so the
// decimal point is always ".", whatever locale the host set.
//
// A directive the formatter does not understand (unknown conversion letter,
// an unfinished directive at the end, a width or precision above
// kMaxFieldWidth) is copied as written and takes no argument.
//
// The output is zero-terminated text: a "%c" of 0 ends it (the rest of the
// format is still read and its arguments taken, but writes nothing), and no
// conversion writes a zero otherwise.
//
// Every function is safe to call from any thread.
#include <cstdarg>
#include <cstddef>

#include "base/result_code.h"
#include "base/text.h"
#include "zunlogx/zunlogx.h"

namespace zun {

// Largest width or precision a directive may ask for.
inline constexpr int kMaxFieldWidth = 65535;

// Formats into `buffer`, which holds `capacity` characters plus the
// terminating zero. `*size` receives the size the whole text needs, with the
// zero, also when it did not fit. RC_INSUFFICIENT_BUFFER when the text does
// not fit; the buffer then holds a cut-off prefix and no terminating zero.
//
// Reads the arguments with va_arg(*args, T) and so advances the caller's list
// (also when the buffer is too small). A null `args` formats as if there
// were no arguments: conversions are copied as written.
ResultCode FormatWide(char16_t* buffer, std::size_t capacity, const char16_t* format, va_list* args,
                      std::size_t* size);

// Takes from `args` exactly the arguments FormatWide would take for
// `format`, writing nothing: for a call whose text is not wanted.
void TakeWideArguments(const char16_t* format, va_list* args);

// As FormatWide, the conversions taking the typed arguments of `source` in
// order (the source is read once, as far as the format needs):
// - the argument's kind decides how its value is read; size prefixes are
//   ignored, since the kind carries the width;
// - kind 3 is written as hexadecimal bytes (upper case for X, E, G), kinds 4
//   and 5 as text up to their length or first zero, whatever the conversion
//   letter; precision limits them as it limits "%s";
// - numbers follow the conversion letter: integers convert to floating point
//   for e f g, doubles truncate for integer conversions, "c" writes the value
//   as one character, "s" writes the number in decimal ("%g" for a double);
// - a width or precision "*" takes an integer or double argument.
// RC_BAD_ARGUMENT_KIND for an argument of kind 0 (or a text or buffer given
// for "*"); RC_EMPTY when the source still has an argument after the last
// conversion. A conversion that finds no argument left is copied as written.
// Kinds above 6 write nothing.
ResultCode FormatWideTyped(char16_t* buffer, std::size_t capacity, const char16_t* format,
                           ZunArgumentSource* source, std::size_t* size);

// printf of one double into `buffer` in the "C" locale, whatever locale the
// calling thread or the process uses. Returns what snprintf returns (the
// length needed without the zero), negative on an encoding failure.
int FormatDoubleInCLocale(char* buffer, std::size_t size, const char* format, double value);
int FormatLongDoubleInCLocale(char* buffer, std::size_t size, const char* format, long double value);

}  // namespace zun
