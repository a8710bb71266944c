# The same program built for 64-bit Windows. It does not ship; it exists so that the tests that
# run the Windows program under Wine also run on hosts that cannot execute 32-bit code (a kernel
# without 32-bit support runs only a 64-bit Wine).
#   cmake -S . -B build/win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
set(FELTO_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
