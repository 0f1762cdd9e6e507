# Windows CE on ARM with CeGCC's arm-mingw32ce toolchain. Debian has no such
# compiler, so this file is kept for device builds elsewhere and is untested
# on the project's build machines.
set(CMAKE_SYSTEM_NAME WindowsCE)
set(CMAKE_SYSTEM_VERSION 5.0)
set(CMAKE_SYSTEM_PROCESSOR ARM)
set(CEGCC_ROOT "/opt/mingw32ce" CACHE PATH "CeGCC installation")
set(CMAKE_C_COMPILER ${CEGCC_ROOT}/bin/arm-mingw32ce-gcc)
set(CMAKE_CXX_COMPILER ${CEGCC_ROOT}/bin/arm-mingw32ce-g++)
set(CMAKE_RC_COMPILER ${CEGCC_ROOT}/bin/arm-mingw32ce-windres)
set(CMAKE_FIND_ROOT_PATH ${CEGCC_ROOT}/arm-mingw32ce)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(PROJECT_OBJDUMP ${CEGCC_ROOT}/bin/arm-mingw32ce-objdump)
