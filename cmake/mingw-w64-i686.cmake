# Cross toolchain: mingw-w64 for 32-bit (i686) Windows, where a 32-bit program's file dialogs load
# only 32-bit shell extensions. No emulator: this machine's kernel cannot run 32-bit code, so the
# 32-bit tree is a compile-and-link check of the deliverables, not a test run.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KV_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
