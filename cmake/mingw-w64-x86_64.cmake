# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (posix threads).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CORVALEN_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${CORVALEN_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${CORVALEN_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${CORVALEN_MINGW_TRIPLET}-windres)

# The target's libraries: the compiler's own tree and the prefixes given (Qt for Windows).
set(CMAKE_FIND_ROOT_PATH /usr/${CORVALEN_MINGW_TRIPLET} ${CMAKE_PREFIX_PATH})
# Libraries, headers and packages come from the target tree; moc, uic and rcc
# are host programs and must be found on the build machine.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# CTest runs the test programs under wine.
find_program(CORVALEN_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(CORVALEN_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CORVALEN_WINE})
endif()
