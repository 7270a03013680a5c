# Cross-builds the programs as 64-bit Windows programs with MinGW-w64 (the
# POSIX thread model, which std::thread and std::mutex need). How each is
# linked is the project's choice (CMakeLists.txt): statically, or beside
# Qt's DLLs and the compiler's.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VORNIC_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VORNIC_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VORNIC_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VORNIC_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VORNIC_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests and programs run at build or test time go through Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
