# What every target of this project shares, set per target rather than for the
# whole directory tree: warnings and sanitizers come with px_options, and each
# folder exports an include directory that holds only itself.

add_library(px_options INTERFACE)
target_compile_options(px_options INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
                                            $<$<BOOL:${PX_WERROR}>:-Werror>)
if(PX_BUILD_FUZZ)
  target_compile_options(px_options INTERFACE -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  target_link_options(px_options INTERFACE -fsanitize=address,undefined)
endif()
if(PX_SANITIZE)
  target_compile_options(px_options INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer
                                              -fno-sanitize-recover=all)
  target_link_options(px_options INTERFACE -fsanitize=address,undefined)
endif()

# Headers are included by folder ("bus/port.h"). A target sees the folders of
# the targets it links, and its own, and nothing else: each folder's include
# directory is a directory in the build tree holding a link to that folder alone.
function(px_export_folder target folder)
  set(dir ${CMAKE_BINARY_DIR}/include/${folder})
  file(MAKE_DIRECTORY ${dir})
  file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${dir}/${folder} SYMBOLIC)
  target_include_directories(${target} PUBLIC ${dir})
endfunction()

# A library of this project: its folder exported, the project's options applied.
function(px_library name folder)
  add_library(${name} STATIC ${ARGN})
  px_export_folder(${name} ${folder})
  target_link_libraries(${name} PRIVATE px_options)
endfunction()

function(px_executable name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE px_options)
endfunction()
