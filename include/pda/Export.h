#pragma once

// The one export macro of the library. Classes and functions that callers
// use carry PDA_API; everything else has hidden visibility.
#if defined(_WIN32)
#  if defined(PDA_BUILDING_LIBRARY)
#    define PDA_API __declspec(dllexport)
#  elif defined(PDA_STATIC)
#    define PDA_API
#  else
#    define PDA_API __declspec(dllimport)
#  endif
#else
#  define PDA_API __attribute__((visibility("default")))
#endif
