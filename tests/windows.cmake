# The Windows lane, cross-built: the loader's suites through the platform's conversion, and
# that conversion compared with the portable one. ctest runs them through
# CMAKE_CROSSCOMPILING_EMULATOR (tools/build_windows.sh points it at Wine).
find_path(STB_IMAGE_INCLUDE_DIR stb_image.h PATH_SUFFIXES stb NO_CMAKE_FIND_ROOT_PATH REQUIRED)

add_library(message_recorder OBJECT support/message_recorder.cpp)
add_library(windows_test_support STATIC support/guarded_bytes_win.cpp support/png_reader_stb.cpp)
target_include_directories(windows_test_support SYSTEM PRIVATE ${STB_IMAGE_INCLUDE_DIR})

add_executable(bitmap_test bitmap_test.cpp)
target_link_libraries(bitmap_test PRIVATE bitmap bmp_writer message_recorder GTest::gtest_main)

add_executable(bmpsuite_test bmpsuite_test.cpp)
target_link_libraries(bmpsuite_test PRIVATE bitmap message_recorder windows_test_support
    GTest::gtest_main)
target_compile_definitions(bmpsuite_test PRIVATE BLENDSPIN_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    BLENDSPIN_REPEATS_CHANNEL_BITS=1)

foreach(test bitmap_test bmpsuite_test)
    add_test(NAME ${test} COMMAND ${test})
    set_tests_properties(${test} PROPERTIES LABELS loader TIMEOUT 300)
endforeach()

# The large blocks once more where Windows refuses to lock them, as it may for any account:
# under Wine, locking is mlock, refused by the limits the script sets.
add_test(NAME bitmap_test_locking_refused
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/support/without_locking.sh
        ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:bitmap_test>
        --gtest_filter=BitmapLargeBlocks.*)
set_tests_properties(bitmap_test_locking_refused PROPERTIES LABELS loader TIMEOUT 300
    ENVIRONMENT BLENDSPIN_LOCKING_REFUSED=1)

add_executable(conversion_crosscheck_test conversion_crosscheck_test.cpp)
target_link_libraries(conversion_crosscheck_test PRIVATE bitmap message_recorder
    windows_test_support GTest::gtest_main)
target_compile_definitions(conversion_crosscheck_test PRIVATE
    BLENDSPIN_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
add_test(NAME conversion_crosscheck_test COMMAND conversion_crosscheck_test)
set_tests_properties(conversion_crosscheck_test PROPERTIES LABELS loader TIMEOUT 300)

# Shows one real message box; the end-to-end tests (Linux programs) run it under Wine beside
# blendspin.exe.
add_executable(message_box_probe message_box_probe.cpp)
target_link_libraries(message_box_probe PRIVATE message_box)
