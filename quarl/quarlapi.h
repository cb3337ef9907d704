#pragma once
// Export/import marker of the application runtime library.
#ifdef QUARL_BUILDING
#define QUARL_API __declspec(dllexport)
#else
#define QUARL_API __declspec(dllimport)
#endif
