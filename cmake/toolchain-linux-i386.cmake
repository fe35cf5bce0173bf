# The plugin's sources as 32-bit Linux code, run under user-mode emulation:
# this machine cannot execute 32-bit programs directly.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32")
set(CMAKE_CXX_FLAGS_INIT "-m32")
set(CMAKE_ASM_FLAGS_INIT "-m32")
# Host-side objects carry absolute relocations in code.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32 -no-pie")
set(CMAKE_POSITION_INDEPENDENT_CODE OFF)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-i386-static)
