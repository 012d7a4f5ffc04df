// Visibility of the framework's classes. Messages, providers and futures cross shared-library
// boundaries (dynamic_cast and typeid during delivery and serialization), so their type
// information must be visible to every module that loads them.
#pragma once

#if defined(_WIN32)
#define CONNECTOR_FRAMEWORK_API
#else
#define CONNECTOR_FRAMEWORK_API __attribute__((visibility("default")))
#endif
