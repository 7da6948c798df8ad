#pragma once

#if defined(_WIN32)
#if defined(QUILLMOOR_HOST_IMPLEMENTATION)
#define DEVHOST_API __declspec(dllexport)
#else
#define DEVHOST_API __declspec(dllimport)
#endif
#else
#define DEVHOST_API __attribute__((visibility("default")))
#endif
