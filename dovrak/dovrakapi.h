#pragma once
// Export/import marker of the compatibility runtime library.
#ifdef DOVRAK_BUILDING
#define BRVT_API __declspec(dllexport)
#else
#define BRVT_API __declspec(dllimport)
#endif
