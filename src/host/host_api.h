// Linkage of the framework's functions as the plugin imports them. The
// framework library (AsaApi, or the devhost here) defines them; the plugin only
// declares and calls them.
#pragma once

#if defined(_WIN32)
#if defined(QUILLMOOR_HOST_IMPLEMENTATION)
#define QM_HOST_API __declspec(dllexport)
#else
#define QM_HOST_API __declspec(dllimport)
#endif
#else
#define QM_HOST_API __attribute__((visibility("default")))
#endif
