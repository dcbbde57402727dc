// How the product library marks its one export.
#pragma once

#if defined(_WIN32)
#define KESTREL_EXPORT __declspec(dllexport)
#else
#define KESTREL_EXPORT __attribute__((visibility("default")))
#endif
