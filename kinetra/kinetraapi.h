#pragma once
// Export/import marker of the process information library.
#ifdef KINETRA_BUILDING
#define KINETRA_API __declspec(dllexport)
#else
#define KINETRA_API __declspec(dllimport)
#endif
