# Windows CE on ARM with CeGCC's arm-mingw32ce toolchain (gcc 4.4.0), found
# at CEGCC_ROOT; make passes the one tools/cegcc-root finds. Where no
# compiler is there the project still configures, and its CE checks show as
# skipped.
#
# CMake has platform files for Windows CE only with Microsoft's compilers; a
# mingw-style compiler is driven through the ordinary Windows/GNU ones.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ARM)
set(CEGCC_ROOT "/opt/mingw32ce" CACHE PATH "CeGCC installation")
set(CMAKE_C_COMPILER ${CEGCC_ROOT}/bin/arm-mingw32ce-gcc)
set(CMAKE_CXX_COMPILER ${CEGCC_ROOT}/bin/arm-mingw32ce-g++)
set(CMAKE_RC_COMPILER ${CEGCC_ROOT}/bin/arm-mingw32ce-windres)
set(CMAKE_FIND_ROOT_PATH ${CEGCC_ROOT}/arm-mingw32ce)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# device/common also knows CE by CeGCC's own __UNDER_CE__ (its ISO modes
# define no UNDER_CE); UNDER_CE stays defined for any header that asks.
set(CMAKE_C_FLAGS_INIT "-DUNDER_CE=1")
set(CMAKE_CXX_FLAGS_INIT "-DUNDER_CE=1")
# The Windows/GNU platform would link the desktop system libraries
# (-lkernel32 -luser32 ... -ladvapi32); CE has none of them. Everything is in
# coredll, which the CE compiler links by itself.
set(CMAKE_C_STANDARD_LIBRARIES "" CACHE STRING "Libraries linked into every C target")
set(CMAKE_CXX_STANDARD_LIBRARIES "" CACHE STRING "Libraries linked into every C++ target")
