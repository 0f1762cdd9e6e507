# What makes a shipped file a release: the same bytes from every build of a
# commit, and the project's one version in its resources.

# The time a linker records is the last commit's, or SOURCE_DATE_EPOCH's
# where that is set, never the clock's. A tree without git history and
# without SOURCE_DATE_EPOCH gets 0 (1970-01-01): still one value for every
# build of it. The history is the project's own only where its folder is
# the repository's top level: a tree unpacked inside another repository
# has none.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(PROJECT_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
else()
  set(PROJECT_SOURCE_DATE_EPOCH "")
  execute_process(COMMAND git -C "${PROJECT_SOURCE_DIR}" rev-parse --show-toplevel
    OUTPUT_VARIABLE top OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  file(REAL_PATH "${PROJECT_SOURCE_DIR}" here)
  if(top)
    file(REAL_PATH "${top}" top)
  endif()
  if(top STREQUAL here)
    execute_process(COMMAND git -C "${PROJECT_SOURCE_DIR}" log -1 --format=%ct
      OUTPUT_VARIABLE PROJECT_SOURCE_DATE_EPOCH
      OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
  if(NOT PROJECT_SOURCE_DATE_EPOCH)
    set(PROJECT_SOURCE_DATE_EPOCH 0)
    message(STATUS "No git history and no SOURCE_DATE_EPOCH: shipped files are stamped 1970-01-01")
  endif()
endif()
if(NOT PROJECT_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
  message(FATAL_ERROR "SOURCE_DATE_EPOCH must be a number of seconds, not '${PROJECT_SOURCE_DATE_EPOCH}'")
endif()
# Written only when it changes, so that a new stamp relinks what ships.
file(CONFIGURE OUTPUT "${CMAKE_BINARY_DIR}/source-date-epoch"
  CONTENT "${PROJECT_SOURCE_DATE_EPOCH}\n")
file(WRITE "${CMAKE_BINARY_DIR}/project-version" "${PROJECT_VERSION}\n")

# Builds target with the project's stamp. mingw's tools take it from
# SOURCE_DATE_EPOCH. CeGCC's (binutils 2.20) have no such option: its ld
# writes the clock's time into the file header and the export table, its
# windres into every resource directory. So they run under a clock stopped
# at the stamp, which catches every field they fill from the time, known or
# not. The stamp is read in UTC.
function(build_reproducibly target)
  if(PROJECT_TARGET STREQUAL "wince")
    find_program(FAKETIME faketime REQUIRED)
    set(saved "$ENV{SOURCE_DATE_EPOCH}")
    set(ENV{SOURCE_DATE_EPOCH} "${PROJECT_SOURCE_DATE_EPOCH}")
    string(TIMESTAMP clock "%Y-%m-%d %H:%M:%S" UTC)
    set(ENV{SOURCE_DATE_EPOCH} "${saved}")
    set(launcher "${CMAKE_COMMAND} -E env TZ=UTC ${FAKETIME} -f \"${clock}\"")
  else()
    set(launcher "${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${PROJECT_SOURCE_DATE_EPOCH}")
  endif()
  set_target_properties(${target} PROPERTIES
    RULE_LAUNCH_COMPILE "${launcher}"
    RULE_LAUNCH_LINK "${launcher}"
    LINK_DEPENDS "${CMAKE_BINARY_DIR}/source-date-epoch")
  # A new stamp rebuilds every step it reaches, the compiled resources too
  # (CE's windres writes it into each resource directory), not only the
  # link: a tree rebuilt after a new commit then gives a fresh clone's
  # bytes. Applied once the folder has given the target all its sources.
  cmake_language(EVAL CODE "cmake_language(DEFER CALL stamp_every_source [[${target}]])")
endfunction()

function(stamp_every_source target)
  get_target_property(sources ${target} SOURCES)
  set_property(SOURCE ${sources} APPEND PROPERTY
    OBJECT_DEPENDS "${CMAKE_BINARY_DIR}/source-date-epoch")
endfunction()

# Gives target a version resource that says what the file is and carries
# the project's version.
function(add_version_resource target description)
  get_target_property(type ${target} TYPE)
  get_target_property(suffix ${target} SUFFIX)
  if(type STREQUAL "SHARED_LIBRARY")
    set(VERSION_FILETYPE VFT_DLL)
    set(suffix .dll)
  else()
    set(VERSION_FILETYPE VFT_APP)
  endif()
  # CE's headers know no NT: its libraries are plain Win32 ones.
  if(PROJECT_TARGET STREQUAL "wince")
    set(VERSION_FILEOS VOS__WINDOWS32)
  else()
    set(VERSION_FILEOS VOS_NT_WINDOWS32)
  endif()
  set(VERSION_DESCRIPTION "${description}")
  set(VERSION_NAME "${target}")
  set(VERSION_FILENAME "${target}${suffix}")
  set(rc "${CMAKE_CURRENT_BINARY_DIR}/${target}-version.rc")
  configure_file("${PROJECT_SOURCE_DIR}/cmake/version.rc.in" "${rc}" @ONLY)
  target_sources(${target} PRIVATE "${rc}")
endfunction()
