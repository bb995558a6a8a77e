# Small helpers shared by the subsystem folders.

# vantrel_library(NAME SOURCES... [DEPS libs...])
# A subsystem library: sources in src/<name>, public headers included as "<name>/X.h".
function(vantrel_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(vantrel_${name} STATIC ${ARG_SOURCES})
  add_library(vantrel::${name} ALIAS vantrel_${name})
  target_include_directories(vantrel_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(vantrel_${name} PUBLIC ${ARG_DEPS})
endfunction()

# vantrel_test(NAME SOURCES... [DEPS libs...] [LABELS labels...] [ENV vars...] [QT])
# One GoogleTest executable registered with CTest; QT tests run on the offscreen platform.
function(vantrel_test name)
  cmake_parse_arguments(ARG "QT" "" "SOURCES;DEPS;LABELS;ENV" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gmock GTest::gtest_main Threads::Threads)
  set(env ${ARG_ENV})
  if(ARG_QT)
    list(APPEND env QT_QPA_PLATFORM=offscreen)
  endif()
  set(properties TIMEOUT 300)
  if(ARG_LABELS)
    list(APPEND properties LABELS "${ARG_LABELS}")
  endif()
  if(env)
    # Escaped so that several variables stay one ENVIRONMENT value on their way through.
    string(REPLACE ";" "\\;" env "${env}")
    list(APPEND properties ENVIRONMENT "${env}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${properties})
endfunction()
