# Shared compile settings, linked by every target of the project.
add_library(vexhold_options INTERFACE)
target_compile_features(vexhold_options INTERFACE cxx_std_17)
target_compile_options(vexhold_options INTERFACE -Wall -Wextra)
target_include_directories(vexhold_options INTERFACE ${PROJECT_SOURCE_DIR})

set(VEXHOLD_SANITIZE "" CACHE STRING "Native sanitizer build: address or thread")
if(VEXHOLD_SANITIZE STREQUAL "address")
  set(_san -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
elseif(VEXHOLD_SANITIZE STREQUAL "thread")
  set(_san -fsanitize=thread)
  # Asio's fences are not modelled by ThreadSanitizer; GCC says so at every use.
  add_compile_options(-Wno-tsan)
endif()
if(_san)
  # Also applied to googletest, so every object is instrumented.
  add_compile_options(${_san})
  add_link_options(${_san})
endif()

if(WIN32)
  target_compile_definitions(vexhold_options INTERFACE
    UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
  # One self-contained file per program: no DLL beside it.
  add_link_options(-static -static-libgcc -static-libstdc++)
endif()

# add_vexhold_test(name SOURCES... LIBS...): one gtest executable registered with CTest.
function(add_vexhold_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} vexhold_test_support vexhold_options GTest::gtest_main)
  if(CMAKE_CROSSCOMPILING)
    # Wine's server and services are shared by the whole stage, which runs
    # isolated as one (see scripts/test-stages.sh).
    add_test(NAME ${name} COMMAND ${name})
  else()
    # Each loopback program on ports of its own.
    add_test(NAME ${name} COMMAND ${PROJECT_SOURCE_DIR}/scripts/run-isolated.sh $<TARGET_FILE:${name}>)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 600)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT})
endfunction()
