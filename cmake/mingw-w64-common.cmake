# Cross-compiling for Windows with mingw-w64 (the posix thread model, so that std::thread and
# std::mutex work). Included by the two architecture files, which set PAGORIN_MINGW_TRIPLET and
# the processor first.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${PAGORIN_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PAGORIN_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${PAGORIN_MINGW_TRIPLET}-windres)
set(CMAKE_OBJDUMP ${PAGORIN_MINGW_TRIPLET}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${PAGORIN_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C library's printf family as C99 says (the system one knows no %zu), and only the parts of
# <windows.h> the code uses.
set(CMAKE_C_FLAGS_INIT "-D__USE_MINGW_ANSI_STDIO=1")
set(CMAKE_CXX_FLAGS_INIT "-D__USE_MINGW_ANSI_STDIO=1")

# libgcc, libstdc++ and winpthread go into every binary: the module and the programs need nothing
# but the DLLs of Windows itself.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
