# i686 mingw-w64 with POSIX threads: GoogleTest needs the thread headers that the win32-thread
# variant lacks. Only the test program uses it; the shipping programs use mingw-i686.cmake.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-i686.cmake)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
