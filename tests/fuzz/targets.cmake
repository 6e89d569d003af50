# The libFuzzer targets, loaded by the `fuzz` preset (CMAKE_PROJECT_INCLUDE) so that the main build
# files need not know about them; they are defined once the project's own targets exist. The whole
# build runs under ASan and UBSan (the preset's flags); coverage feedback comes only from the code
# under test, not from winsim.
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "The fuzz targets need clang (-fsanitize=fuzzer)")
endif()
set(FUZZ_SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR})

function(add_fuzz_targets)
  foreach(lib installapp driverinstall platform)
    set_property(TARGET ${lib} APPEND PROPERTY COMPILE_OPTIONS -fsanitize=fuzzer-no-link)
  endforeach()
  foreach(name inf_markers command_line)
    add_executable(fuzz_${name} ${FUZZ_SOURCE_DIR}/fuzz_${name}.cpp)
    target_link_libraries(fuzz_${name} PRIVATE installapp)
    target_compile_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
    set_target_properties(fuzz_${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  endforeach()
endfunction()

cmake_language(DEFER CALL add_fuzz_targets)
