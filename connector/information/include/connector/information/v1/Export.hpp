// CONNECTOR_INFORMATION_API marks what the plug-in's shared library exports. Everything else in
// the library is hidden. Define CONNECTOR_INFORMATION_BUILD while building the library itself.
#pragma once

#if defined(_WIN32)
#if defined(CONNECTOR_INFORMATION_BUILD)
#define CONNECTOR_INFORMATION_API __declspec(dllexport)
#else
#define CONNECTOR_INFORMATION_API __declspec(dllimport)
#endif
#else
#define CONNECTOR_INFORMATION_API __attribute__((visibility("default")))
#endif
