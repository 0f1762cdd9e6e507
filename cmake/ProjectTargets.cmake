# Target helpers shared by every folder of the project.

set(PROJECT_COMMON_DIR ${PROJECT_SOURCE_DIR}/device/common)

# A device library: the C++ that old Windows CE compilers accept, kept so by
# strict flags in every build, exported through a .def file with fixed
# ordinals and named exactly <name>.dll. c++98 and c++03 name the same
# language; CeGCC's gcc 4.4 knows only the first.
set(DEVICE_CXX_FLAGS -std=c++98 -pedantic -Wall -Wextra -Werror -fno-exceptions -fno-rtti)

function(add_device_library name)
  cmake_parse_arguments(ARG "" "DEF;DESCRIPTION" "SOURCES" ${ARGN})
  add_library(${name} SHARED ${ARG_SOURCES} ${ARG_DEF})
  add_version_resource(${name} "${ARG_DESCRIPTION}")
  set_target_properties(${name} PROPERTIES
    PREFIX ""
    CXX_STANDARD 98
    CXX_EXTENSIONS OFF)
  target_compile_options(${name} PRIVATE ${DEVICE_CXX_FLAGS})
  target_include_directories(${name} PRIVATE ${PROJECT_COMMON_DIR})
  if(PROJECT_TARGET STREQUAL "wince")
    # Windows CE libraries are GUI-subsystem images for version 3.0 and on;
    # GNU ld calls that subsystem "wince" (9). This gcc links libgcc as a DLL
    # by default, which no device has: a division or 64-bit helper would
    # then keep the library from loading. Storage is scarce on a device, so
    # no symbol table goes with it either.
    target_link_options(${name} PRIVATE -Wl,--subsystem,wince:3.0 -static-libgcc -s)
    build_reproducibly(${name})
    # This linker (binutils 2.20) writes the import address table directory
    # as an absolute address; it is made relative, as every other one is.
    add_custom_command(TARGET ${name} POST_BUILD
      COMMAND ${PROJECT_SOURCE_DIR}/tools/fix-iat-directory $<TARGET_FILE:${name}>
      VERBATIM)
  else()
    # The .def names are undecorated; let the 32-bit linker match them to the
    # decorated stdcall symbols.
    target_link_options(${name} PRIVATE -Wl,--enable-stdcall-fixup -Wl,--subsystem,windows)
    add_device_checks(${name} ${ARG_SOURCES})
  endif()
endfunction()

# What the desktop builds can tell about a device library's CE build, with no
# CE compiler at hand:
#  - <name>_ce_syntax compiles every source of the library as the CE build
#    sees it (C++98, the strict flags; once, since every way a CE compiler
#    may announce itself gives the one macro the code asks), syntax only, with the desktop compiler and headers plus the few
#    CE declarations in tests/support/CeDeclarations.h. It proves the CE
#    branches well-formed C++98, not that CE headers accept them or that CE
#    links them.
#  - <name>_ce_imports reads the built library's import table and fails on a
#    platform function that is not on device/common/ce-platform-functions.txt,
#    the list of what the CE core library offers.
function(add_device_checks name)
  set(sources ${ARGN})
  list(TRANSFORM sources PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/)
  string(JOIN " " flags ${DEVICE_CXX_FLAGS})
  add_test(NAME ${name}_ce_syntax
    COMMAND sh ${PROJECT_SOURCE_DIR}/tests/support/check-ce-syntax.sh
      ${CMAKE_CXX_COMPILER} ${PROJECT_SOURCE_DIR}/tests/support/CeDeclarations.h
      ${PROJECT_COMMON_DIR} "${flags}" ${sources})
  add_pe_check(${name}_ce_imports
    COMMAND sh ${PROJECT_SOURCE_DIR}/tests/support/check-ce-imports.sh
      ${name}.dll ${PROJECT_COMMON_DIR}/ce-platform-functions.txt)
endfunction()

# A GoogleTest program run under Wine; its cases are listed at test time.
# LOCK names resources (window, registry key, mutex) that cases of different
# programs must not use at the same time.
function(add_wine_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LOCK;LIBRARIES;DEPENDS" ${ARGN})
  if(NOT PROJECT_WINE_TESTS)
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE testmain testsupport ${ARG_LIBRARIES})
  if(ARG_DEPENDS)
    add_dependencies(${name} ${ARG_DEPENDS})
  endif()
  set(properties TIMEOUT 120)
  if(ARG_LOCK)
    list(APPEND properties RESOURCE_LOCK "${ARG_LOCK}")
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 120
    PROPERTIES ${properties})
  if(PROJECT_TARGET STREQUAL "win32")
    gate_on_i386(${name})
  endif()
endfunction()

# The x86 cases need 32-bit Wine, which some machines cannot have. Their discovery is put behind the machine probe, asked when CTest
# reads the tests: where the answer is no, the program shows as one skipped
# test named after it instead of failing to list its cases.
function(gate_on_i386 name)
  get_property(includes DIRECTORY PROPERTY TEST_INCLUDE_FILES)
  list(POP_BACK includes discovery)
  set(gate ${CMAKE_CURRENT_BINARY_DIR}/${name}_i386_gate.cmake)
  set(probe ${PROJECT_SOURCE_DIR}/tools/can-run-i386)
  set(skipped "${name}.needs_32bit_wine")
  file(WRITE ${gate}
    "execute_process(COMMAND \"${probe}\" RESULT_VARIABLE can_run)\n"
    "if(can_run EQUAL 0)\n"
    "  include(\"${discovery}\")\n"
    "else()\n"
    "  add_test(\"${skipped}\" sh -c \"echo 'this machine has no 32-bit Wine (tools/can-run-i386): ${name} cannot run'; exit 77\")\n"
    "  set_tests_properties(\"${skipped}\" PROPERTIES SKIP_RETURN_CODE 77)\n"
    "endif()\n")
  list(APPEND includes ${gate})
  set_property(DIRECTORY PROPERTY TEST_INCLUDE_FILES ${includes})
endfunction()

# The exports each device library must have, by ordinal, in every build.
set(SEMBRIN_EXPORTS 1:HookKeys 2:DllMain 3:RestartClient 4:ShutdownClient)
set(DORVALE_EXPORTS 1:Install_Exit 2:Install_Init 3:Uninstall_Exit 4:Uninstall_Init)
set(PROJECT_EXPORT_CHECK ${PROJECT_SOURCE_DIR}/tests/support/check-exports.sh)

# A check run on the build machine itself (no Wine), for example a look at a
# built binary with tests/support/pe-facts.py. The command sees BIN and the
# project's VERSION in its environment.
function(add_pe_check name)
  cmake_parse_arguments(ARG "" "" "COMMAND" ${ARGN})
  add_test(NAME ${name} COMMAND ${ARG_COMMAND})
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "BIN=${CMAKE_RUNTIME_OUTPUT_DIRECTORY};VERSION=${PROJECT_VERSION}")
endfunction()
