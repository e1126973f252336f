/* Morvik RC2 — what the shared library exports.
 *
 * The library is compiled with hidden visibility; MORVIK_API marks the public
 * classes and functions, so that nothing internal (kernels, detail helpers,
 * the standard library's inline code) becomes part of its ABI. Plain C, as
 * <morvik/morvik.h> includes it too. */
#ifndef MORVIK_EXPORT_H
#define MORVIK_EXPORT_H

#if defined(__GNUC__) && !defined(_WIN32)
#define MORVIK_API __attribute__((visibility("default")))
#else
/* Windows builds ship the automation server, whose exports its .def names. */
#define MORVIK_API
#endif

#endif
