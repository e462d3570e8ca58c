# Test build: 64-bit Windows, run under Wine on the build machine.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
# No CMAKE_CROSSCOMPILING_EMULATOR: the programs of this build run only
# inside the project's Wine session, which picks the Wine loader (see
# scripts/lib/winesession and tests/wine/CMakeLists.txt).
