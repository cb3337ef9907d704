set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(LK_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-common.cmake)
# The 32-bit loader; /usr/bin/wine picks it for 32-bit images.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
