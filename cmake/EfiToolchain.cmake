# Cross toolchain for the UEFI images: clang targeting the Microsoft x64 ABI,
# linked into PE32+ images by lld-link. Nothing of the host C or C++ library
# is reachable from this build.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

find_program(FW_CLANG NAMES clang-14 clang REQUIRED)
find_program(FW_CLANGXX NAMES clang++-14 clang++ REQUIRED)
find_program(FW_LLD_LINK NAMES lld-link-14 lld-link REQUIRED)
find_program(FW_LLVM_AR NAMES llvm-ar-14 llvm-ar REQUIRED)

set(CMAKE_C_COMPILER ${FW_CLANG})
set(CMAKE_CXX_COMPILER ${FW_CLANGXX})
set(CMAKE_C_COMPILER_TARGET x86_64-unknown-windows)
set(CMAKE_CXX_COMPILER_TARGET x86_64-unknown-windows)
# CMake's Generic platform does not pass the target on its own.
set(CMAKE_C_FLAGS_INIT "--target=x86_64-unknown-windows")
set(CMAKE_CXX_FLAGS_INIT "--target=x86_64-unknown-windows")
set(CMAKE_C_FLAGS_RELEASE_INIT "-O2")
set(CMAKE_CXX_FLAGS_RELEASE_INIT "-O2")
set(CMAKE_AR ${FW_LLVM_AR} CACHE FILEPATH "" FORCE)
set(CMAKE_RANLIB true CACHE FILEPATH "" FORCE)
set(CMAKE_LINKER ${FW_LLD_LINK} CACHE FILEPATH "" FORCE)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(CMAKE_EXECUTABLE_SUFFIX_C .efi)
set(CMAKE_EXECUTABLE_SUFFIX_CXX .efi)
set(CMAKE_C_LINK_EXECUTABLE "${FW_LLD_LINK} <LINK_FLAGS> <OBJECTS> <LINK_LIBRARIES> -out:<TARGET>")
set(CMAKE_CXX_LINK_EXECUTABLE "${FW_LLD_LINK} <LINK_FLAGS> <OBJECTS> <LINK_LIBRARIES> -out:<TARGET>")

set(FW_EFI ON CACHE BOOL "Build the UEFI images" FORCE)
