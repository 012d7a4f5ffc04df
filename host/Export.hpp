// QUORIX_HOST_API: default visibility for the engine stand-in's classes and functions. The
// plug-in is compiled with hidden visibility and includes these headers; without the mark the
// linker would hide the host's symbols inside the plug-in's shared library, and a program that
// loads that library (connector-host) could not reach the one engine it carries.
#pragma once

#if defined(_WIN32)
#define QUORIX_HOST_API
#else
#define QUORIX_HOST_API __attribute__((visibility("default")))
#endif
