# The 32-bit Windows DLL, the product: __stdcall exports under plain names.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(DOORLINK_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
