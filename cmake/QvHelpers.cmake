# One file per operating system: NAME_posix.cpp and NAME_windows.cpp stand
# behind one header, and the build takes the one for the system it builds for;
# likewise the tests of one system's own behaviour (NAME_posix_test.cpp,
# NAME_windows_test.cpp).
function(qv_filter_other_systems var)
  set(_list ${${var}})
  if(WIN32)
    list(FILTER _list EXCLUDE REGEX ".*_posix(_test)?\\.cpp$")
  else()
    list(FILTER _list EXCLUDE REGEX ".*_windows(_test)?\\.cpp$")
  endif()
  set(${var} ${_list} PARENT_SCOPE)
endfunction()

# One static library per source folder: every .cpp/.h in the folder belongs to
# it, unless the folder is split in two (src/archive: the interaction port
# and the operations; src/upload: the FTP session and the upload command),
# which FILES (the files of one part) or EXCLUDE (names, without extension,
# of the other part's files) say.
#
# The layers are the build's to keep: a library's headers are reached through
# a folder of its own that holds links to them alone ("<folder>/<name>.h",
# the folder as under src/),
# so a library sees only the headers of what it links, and nothing below the
# window links Qt.
function(qv_library name)
  cmake_parse_arguments(ARG "" "" "DEPS;FILES;EXCLUDE" ${ARGN})
  if(ARG_FILES)
    list(TRANSFORM ARG_FILES PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/ OUTPUT_VARIABLE _src)
  else()
    file(GLOB _src CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h
         ${CMAKE_CURRENT_SOURCE_DIR}/*.qrc)
    list(FILTER _src EXCLUDE REGEX ".*/main(_windows)?\\.cpp$")
    foreach(_stem IN LISTS ARG_EXCLUDE)
      list(FILTER _src EXCLUDE REGEX ".*/${_stem}\\.(cpp|h)$")
    endforeach()
  endif()
  qv_filter_other_systems(_src)

  # "app/model" for src/app/model; the folder's own name elsewhere (tools).
  file(RELATIVE_PATH _folder ${PROJECT_SOURCE_DIR}/src ${CMAKE_CURRENT_SOURCE_DIR})
  if(_folder MATCHES "^\\.\\.")
    get_filename_component(_folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  endif()
  set(_include ${CMAKE_BINARY_DIR}/include/${name})
  file(REMOVE_RECURSE ${_include})
  file(MAKE_DIRECTORY ${_include}/${_folder})
  foreach(_file IN LISTS _src)
    if(_file MATCHES "\\.h$")
      get_filename_component(_header ${_file} NAME)
      file(CREATE_LINK ${_file} ${_include}/${_folder}/${_header} SYMBOLIC)
    endif()
  endforeach()

  add_library(${name} STATIC ${_src})
  target_include_directories(${name} PUBLIC ${_include})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# One GoogleTest executable per test folder; every .cpp in it is a test source
# (FILES or EXCLUDE split a folder as for qv_library). A test program links no
# Qt (its main is tests/support/core's) and builds for Windows too, unless it
# is a QT one: a test of the Qt window, built with it.
include(GoogleTest)
function(qv_test name)
  cmake_parse_arguments(ARG "QT" "" "DEPS;FILES;EXCLUDE" ${ARGN})
  if(ARG_FILES)
    list(TRANSFORM ARG_FILES PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/ OUTPUT_VARIABLE _src)
  else()
    file(GLOB _src CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
    foreach(_stem IN LISTS ARG_EXCLUDE)
      list(FILTER _src EXCLUDE REGEX ".*/${_stem}\\.cpp$")
    endforeach()
  endif()
  qv_filter_other_systems(_src)
  if(NOT _src)
    return()
  endif()
  if(ARG_QT AND NOT QV_QT_WINDOW)
    return()
  endif()
  add_executable(${name} ${_src})
  if(ARG_QT)
    target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest qv_testsupport_qt)
    set_target_properties(${name} PROPERTIES AUTOMOC ON)
  else()
    target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest qv_testmain_core)
  endif()
  target_compile_definitions(${name} PRIVATE QV_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
                                             QV_BINARY_DIR="${PROJECT_BINARY_DIR}")
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 300)
endfunction()

# The project's version as Windows keeps one, four numbers in a list
# ("1.0" -> 1;0;0;0), for the program's and the installer's version information.
function(qv_windows_version var)
  set(_numbers "")
  foreach(_part MAJOR MINOR PATCH TWEAK)
    set(_n "${PROJECT_VERSION_${_part}}")
    if(_n STREQUAL "")
      set(_n 0)
    endif()
    list(APPEND _numbers ${_n})
  endforeach()
  set(${var} ${_numbers} PARENT_SCOPE)
endfunction()
