# Builds launcher.exe through the MSVC branch of CMakeLists.txt, here on Linux, the way
# Visual Studio would on Windows: clang in cl mode, lld-link, llvm-rc and llvm-lib for 32-bit
# x86, with MinGW-w64's Windows headers in place of the SDK's, and import libraries for
# kernel32, user32 and advapi32 that the build makes with llvm-dlltool (cmake/imports/).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR X86)
set(llvm /usr/lib/llvm-14/bin)
set(CMAKE_C_COMPILER ${llvm}/clang-cl)
set(CMAKE_CXX_COMPILER ${llvm}/clang-cl)
set(CMAKE_C_COMPILER_TARGET i686-pc-windows-msvc)
set(CMAKE_CXX_COMPILER_TARGET i686-pc-windows-msvc)
set(CMAKE_LINKER ${llvm}/lld-link)
set(CMAKE_RC_COMPILER ${llvm}/llvm-rc)
set(CMAKE_AR ${llvm}/llvm-lib)
set(CMAKE_MT ${llvm}/llvm-mt)
# There is no C runtime to link a test program against: the compiler checks stop at a library.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
# MinGW-w64's headers in MSVC mode: they want _X86_ for a 32-bit target, and one macro of
# MinGW's intrinsics (clang-cl-mingw-headers.h); the resource compiler finds windows.h there.
set(headers /usr/share/mingw-w64/include)
set(CMAKE_C_FLAGS_INIT "-imsvc ${headers} /D_X86_ /FI${CMAKE_CURRENT_LIST_DIR}/clang-cl-mingw-headers.h")
set(CMAKE_CXX_FLAGS_INIT "${CMAKE_C_FLAGS_INIT}")
set(CMAKE_RC_FLAGS_INIT "/I ${headers}")
set(LAUNCHER_DLLTOOL ${llvm}/llvm-dlltool)
# No SDK libraries here: the launcher links the import libraries that the build makes.
set(CMAKE_C_STANDARD_LIBRARIES "" CACHE STRING "Libraries linked into every C program")
set(CMAKE_CXX_STANDARD_LIBRARIES "" CACHE STRING "Libraries linked into every C++ program")
