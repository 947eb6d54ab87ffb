# Shared helpers for the folders' CMakeLists.

set(TESSEL_ROOT ${CMAKE_SOURCE_DIR})

# Where tests find fixtures, fakes and the built plug-ins. GoogleTest programs get the same
# from tests/test_main.cpp (a list-valued property does not survive test discovery).
set(TESSEL_TEST_ENV
  "TESSEL_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
  "TESSEL_BINARY_DIR=${CMAKE_BINARY_DIR}"
  "QT_QPA_PLATFORM=offscreen"
  "SDL_AUDIODRIVER=dummy"
  "LC_ALL=C.UTF-8")

# tessel_add_test(NAME <name> LABEL <label> SOURCES <...> LIBS <...> [OPTIONAL_LIBS <...>]
#                 [DRIVER real|fake] [DEPENDS <target>...] [RESOURCE_LOCK <lock>])
# One GoogleTest program per module; every case becomes its own CTest test. Tests that share a
# machine-wide resource (a fixed port range) name a lock so that CTest runs them one at a time.
# OPTIONAL_LIBS are linked where this build has them (the Qt and web-pane libraries are
# options). DRIVER: the program's scene loads the real display driver, or the fake one
# (SCENE_FAKE_DRIVER names it; empty for the real one).
function(tessel_add_test)
  cmake_parse_arguments(T "" "NAME;LABEL;TIMEOUT;RESOURCE_LOCK;DRIVER" "SOURCES;LIBS;OPTIONAL_LIBS;DEPENDS" ${ARGN})
  tessel_existing_targets(optional ${T_OPTIONAL_LIBS})
  add_executable(${T_NAME} ${T_SOURCES} ${CMAKE_SOURCE_DIR}/tests/test_main.cpp)
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} ${optional} GTest::gtest GTest::gmock Threads::Threads)
  if(T_DRIVER STREQUAL "fake")
    list(APPEND T_DEPENDS VXDL8D21 scene_fake_driver)
    target_compile_definitions(${T_NAME} PRIVATE SCENE_FAKE_DRIVER="$<TARGET_FILE:scene_fake_driver>")
  elseif(T_DRIVER STREQUAL "real")
    list(APPEND T_DEPENDS VXDL8D21)
    target_compile_definitions(${T_NAME} PRIVATE SCENE_FAKE_DRIVER="")
  endif()
  tessel_existing_targets(depends ${T_DEPENDS})
  if(depends)
    add_dependencies(${T_NAME} ${depends})
  endif()
  target_include_directories(${T_NAME} PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_definitions(${T_NAME} PRIVATE
    TESSEL_SOURCE_DIR="${CMAKE_SOURCE_DIR}" TESSEL_BINARY_DIR="${CMAKE_BINARY_DIR}")
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set(lock "")
  if(T_RESOURCE_LOCK)
    set(lock RESOURCE_LOCK ${T_RESOURCE_LOCK})
  endif()
  gtest_discover_tests(${T_NAME}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES LABELS ${T_LABEL} TIMEOUT ${T_TIMEOUT} ${lock})
endfunction()

# tessel_library(<name> <STATIC|SHARED> SOURCES ... LIBS ...)
function(tessel_library name kind)
  cmake_parse_arguments(L "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} ${kind} ${L_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
  target_compile_definitions(${name} PUBLIC TESSEL_BUILD_NUMBER=${TESSEL_BUILD_NUMBER})
  if(L_LIBS)
    target_link_libraries(${name} PUBLIC ${L_LIBS})
  endif()
endfunction()

# tessel_add_fuzzer(NAME <name> SOURCES <...> LIBS <...> CORPUS <dir>)
# With TESSEL_FUZZ and clang: a libFuzzer binary. Otherwise the same entry point is
# built with a small driver that replays the seed corpus, and runs as a test (label fuzz).
function(tessel_add_fuzzer)
  cmake_parse_arguments(F "" "NAME;CORPUS" "SOURCES;LIBS" ${ARGN})
  if(TESSEL_FUZZ)
    add_executable(${F_NAME} ${F_SOURCES})
    target_compile_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
    target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
  else()
    add_executable(${F_NAME} ${F_SOURCES} ${CMAKE_SOURCE_DIR}/fuzz/replay_main.cpp)
    if(F_CORPUS)
      add_test(NAME ${F_NAME}_replay COMMAND ${F_NAME} ${F_CORPUS})
      set_tests_properties(${F_NAME}_replay PROPERTIES LABELS fuzz ENVIRONMENT "${TESSEL_TEST_ENV}")
    endif()
  endif()
  target_include_directories(${F_NAME} PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(${F_NAME} PRIVATE ${F_LIBS} Threads::Threads)
  # "name corpus" lines for `./run fuzz`.
  set_property(GLOBAL APPEND PROPERTY TESSEL_FUZZERS "${F_NAME} ${F_CORPUS}")
endfunction()

# Adds every subfolder of the calling folder that has a CMakeLists.txt, in name order.
macro(tessel_add_subfolders)
  file(GLOB _tessel_children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT _tessel_children)
  foreach(_tessel_child IN LISTS _tessel_children)
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${_tessel_child}/CMakeLists.txt)
      add_subdirectory(${_tessel_child})
    endif()
  endforeach()
endmacro()

# tessel_existing_targets(<out> <target>...): those of the targets this build configures
# (the Qt and web-pane libraries are optional), in the order given.
function(tessel_existing_targets out)
  set(found "")
  foreach(t IN LISTS ARGN)
    if(TARGET ${t})
      list(APPEND found ${t})
    endif()
  endforeach()
  set(${out} ${found} PARENT_SCOPE)
endfunction()
