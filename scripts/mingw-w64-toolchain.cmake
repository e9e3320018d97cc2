# Cross build for 64-bit Windows with MinGW-w64 (Debian: g++-mingw-w64-x86-64-posix); ctest
# runs the programs through wine. The programs link the compiler's run time statically;
# the Qt DLLs bring their own copy.
#
# MRVN_WINDOWS_KIT names an unpacked Qt + Connector/C + libssh + QtKeychain kit for MinGW
# (holding qt6/, mariadb/, libssh/ and qtkeychain/). Its folders, and MRVN_MARIADB_DIR, join
# the find root: with only the MinGW folder there, the ONLY modes below would re-root every
# search under it and hide them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
# try_compile() projects read this file again: hand the kit's folder on to them.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MRVN_WINDOWS_KIT MRVN_MARIADB_DIR)
if(MRVN_WINDOWS_KIT)
    list(APPEND CMAKE_FIND_ROOT_PATH ${MRVN_WINDOWS_KIT}/qt6 ${MRVN_WINDOWS_KIT}/mariadb
        ${MRVN_WINDOWS_KIT}/libssh ${MRVN_WINDOWS_KIT}/qtkeychain)
    list(APPEND CMAKE_PREFIX_PATH ${MRVN_WINDOWS_KIT}/qt6)
    if(NOT MRVN_MARIADB_DIR)
        set(MRVN_MARIADB_DIR ${MRVN_WINDOWS_KIT}/mariadb)
    endif()
    # Qt's code generators (moc, rcc, uic) are the host's, of the same Qt version.
    if(NOT DEFINED QT_HOST_PATH)
        set(QT_HOST_PATH /usr)
    endif()
endif()
if(MRVN_MARIADB_DIR)
    list(APPEND CMAKE_FIND_ROOT_PATH ${MRVN_MARIADB_DIR})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
find_program(MRVN_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(MRVN_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${MRVN_WINE})
endif()
