# Shared build settings and the helper that turns one source folder into one library.

# Warning flags go on our own targets only (dorvane_settings), not on third-party code built
# beside them (GoogleTest from source).
if(MSVC)
  set(DORVANE_WARNINGS /W4 /utf-8)
  if(DORVANE_WERROR)
    list(APPEND DORVANE_WARNINGS /WX)
  endif()
else()
  set(DORVANE_WARNINGS -Wall -Wextra)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # GCC 12 at -O2/-O3 reports std::string members of aggregate test tables and json::Value
    # variants as "maybe uninitialized" where they plainly are initialised (a known false
    # positive in its inliner); under -Werror that would fail correct code in optimised builds.
    list(APPEND DORVANE_WARNINGS -Wno-maybe-uninitialized)
  endif()
  if(DORVANE_WERROR)
    list(APPEND DORVANE_WARNINGS -Werror)
  endif()
endif()

function(dorvane_settings target)
  target_compile_options(${target} PRIVATE ${DORVANE_WARNINGS})
endfunction()

if(WIN32)
  add_compile_definitions(UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0A00 WINVER=0x0A00)
  if(MINGW)
    # One self-contained .exe: no libstdc++/libgcc/winpthread DLLs beside it.
    add_link_options(-static -static-libgcc -static-libstdc++)
  endif()
endif()

if(DORVANE_SANITIZE AND NOT WIN32)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# The fuzz build instruments every library for libFuzzer's coverage; the targets themselves link
# libFuzzer's main (fuzz/CMakeLists.txt).
if(DORVANE_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# dorvane_library(NAME folder-sources...) builds every .cpp of the calling folder into one static
# library. Platform files are picked by suffix: *_win32.cpp on Windows; *_posix.cpp and *_curl.cpp
# elsewhere. Sources are globbed so that a new file needs no build-file edit.
function(dorvane_library name)
  file(GLOB all_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  set(sources "")
  foreach(src IN LISTS all_sources)
    get_filename_component(base ${src} NAME_WE)
    if(base MATCHES "_win32$")
      if(WIN32)
        list(APPEND sources ${src})
      endif()
    elseif(base MATCHES "_(posix|curl)$")
      if(NOT WIN32)
        list(APPEND sources ${src})
      endif()
    else()
      list(APPEND sources ${src})
    endif()
  endforeach()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  dorvane_settings(${name})
endfunction()
