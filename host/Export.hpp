// QUORIX_HOST_API: default visibility for the host's classes and functions. The plug-in is
// compiled with hidden visibility and includes these headers; the mark keeps the host's type
// information and the functions it calls visible, so that they resolve to the host's library
// (here the engine stand-in, libquorix_host) rather than to hidden copies.
#pragma once

#if defined(_WIN32)
#define QUORIX_HOST_API
#else
#define QUORIX_HOST_API __attribute__((visibility("default")))
#endif
