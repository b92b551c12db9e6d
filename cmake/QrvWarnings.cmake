# Warnings as errors for the project's own targets.
function(qrv_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror
    -Wno-error=deprecated-declarations)
endfunction()

# A static library of the engine, position independent so that it links into
# libqrv.so. Sources and dependencies are given by the caller.
function(qrv_engine_library target)
  add_library(${target} STATIC ${ARGN})
  set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/engine
    ${PROJECT_SOURCE_DIR}/engine/include)
  qrv_warnings(${target})
endfunction()

# A GoogleTest binary registered with CTest.
function(qrv_test target)
  add_executable(${target} ${ARGN})
  target_link_libraries(${target} PRIVATE GTest::gtest GTest::gtest_main GTest::gmock)
  qrv_warnings(${target})
  gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()

# A libFuzzer target, built only with QRV_FUZZ (clang).
function(qrv_fuzzer target)
  if(QRV_FUZZ)
    add_executable(${target} ${ARGN})
    target_link_options(${target} PRIVATE -fsanitize=fuzzer)
    set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
    if(NOT TARGET qrv_fuzzers)
      add_custom_target(qrv_fuzzers)
    endif()
    add_dependencies(qrv_fuzzers ${target})
  endif()
endfunction()
