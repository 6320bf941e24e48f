# What both mingw-w64 cross toolchains share; the including file sets KV_TRIPLE first.
# Posix thread model (std::thread, std::mutex, GoogleTest), everything linked statically so each
# deliverable is one self-contained file.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${KV_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KV_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KV_TRIPLE}-windres)
set(KV_WIDL ${KV_TRIPLE}-widl)
# The system IDL files widl imports and stdole2.tlb: wine's development files (Debian's libwine-dev
# and wine64).
set(KV_WIDL_HINTS /usr/include/wine/wine/windows /usr/lib/x86_64-linux-gnu/wine/x86_64-windows
  /usr/lib/wine/x86_64-windows)

set(CMAKE_FIND_ROOT_PATH /usr/${KV_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Release deliverables ship without symbols.
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")
set(CMAKE_SHARED_LINKER_FLAGS_RELEASE_INIT "-s")
