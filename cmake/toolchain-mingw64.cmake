# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 compilers
# (posix thread model, needed by std::thread and Qt).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZARVELO_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZARVELO_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZARVELO_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ZARVELO_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZARVELO_MINGW_PREFIX})
# Libraries, headers and packages come from the target's folders only; host
# programs (moc, rcc, wine) are still found on the host.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
