# Cross build for 64-bit Windows with Debian's mingw-w64 (the posix thread model, so std::thread
# and std::jthread work), tested under Wine:
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
#   cmake --build build-win --target vantalink-cli      # build-win/cli/vantalink-cli.exe
# The programs are linked statically, so a single .exe runs on a Windows machine with no DLL
# beside it. ctest runs the test programs through Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(mingw_prefix x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${mingw_prefix}-gcc-posix)
set(CMAKE_CXX_COMPILER ${mingw_prefix}-g++-posix)
set(CMAKE_RC_COMPILER ${mingw_prefix}-windres)
set(CMAKE_AR ${mingw_prefix}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${mingw_prefix}-ranlib CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${mingw_prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C and C++ runtimes and winpthreads go into every program.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

set(CMAKE_CROSSCOMPILING_EMULATOR wine)

# CLI11 and nlohmann-json are header-only: their Debian headers serve the cross build too, through
# package files that name only those headers (the rest of /usr/include is the host's).
set(CLI11_DIR ${CMAKE_CURRENT_LIST_DIR}/mingw-w64 CACHE PATH "")
set(nlohmann_json_DIR ${CMAKE_CURRENT_LIST_DIR}/mingw-w64 CACHE PATH "")
