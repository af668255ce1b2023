# The stub: no C runtime start-up, no exceptions or RTTI, sections collected
# and stripped, texts compiled as UTF-8 (the stub's own encoding, handed to
# the wide system calls).  Its image must fit
# in 0x9800 bytes; scripts/pad_stub.py pads it to exactly that and fails
# when it is larger or carries a local-header signature.  32-bit Windows
# keeps its stack aligned to 4 bytes only (window procedures are entered so),
# and the stub uses no instruction that needs more: asking for 16 only costs
# code (about 800 bytes).
# No stack probes: MinGW's default probing forces every call to store its
# arguments with a mov into a frame laid out in advance, which costs about
# 2.5 KB over push.  Without probes a frame must never reach the guard page,
# so one near a page fails the build (the largest today is about 2.4 KB).
# Data sections are not split: MinGW then gives each zero-filled variable a
# section of initialised data (zeros in the file); whole units' .bss instead
# cost nothing, and link-time optimisation drops what is never used.
set(SFX_WIN_FLAGS -Os -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
    -fno-unwind-tables -ffunction-sections -fno-data-sections
    -fstack-protector-strong -fomit-frame-pointer -mpreferred-stack-boundary=2 -fno-ident -fno-tree-loop-distribute-patterns -mno-stack-arg-probe -Werror=frame-larger-than=3072 -Wall -Wextra -Wno-unused-parameter)
# KnownDLLs only, and as few as can be: Windows maps these from the system
# folder whatever the search order, but the DLLs they import in turn may be
# looked for beside the program.  shell32, comctl32 and mpr are loaded at
# run time from the system folder (SystemProc), dependencies included.
set(SFX_WIN_LIBS kernel32 user32 gdi32)

# The decoder's units spare the frame pointer: its code loop wants every
# register a 32-bit build has (scripts/bench.sh reads these flags too).  They
# keep the 16-byte stack boundary: with 4, GCC lays out the code loop worse
# (about 18 % more instructions per byte on text, measured with callgrind).
# They stay out of link-time optimisation, compiled as they were measured
# (docs/performance.md): merged with the rest of the stub, GCC lays the code
# loop out again.
set(SFX_DECODE_FLAGS -fomit-frame-pointer -mpreferred-stack-boundary=4 -fno-lto)
set(SFX_DECODE_SOURCES ${SFX_SRC}/decode/SFXinflt.cpp ${SFX_SRC}/decode/CrcCrypt.cpp)
set_source_files_properties(${SFX_DECODE_SOURCES} PROPERTIES COMPILE_OPTIONS "${SFX_DECODE_FLAGS}")

# Every other unit is built for size above all, each option measured on the
# linked image (docs/size.md has the ledger): one program optimised at link
# time; arrays aligned as the ABI asks and no more; switches as compare
# chains, not tables of addresses (each entry costs a relocation too); and
# tuned for the i686, with the dominator optimisations, caller-saves and
# the coalescing of variables off, each of which made the code larger here.
# -Oz over -Os: constants pushed and popped rather than moved, 100 bytes.
set(SFX_SIZE_FLAGS -Oz -flto -malign-data=abi -fno-jump-tables -fno-tree-switch-conversion
    -mtune=i686 -fno-tree-dominator-opts -fno-caller-saves -fno-tree-coalesce-vars)

file(GLOB SFX_UI_SOURCES CONFIGURE_DEPENDS ${SFX_SRC}/ui/*.cpp ${SFX_SRC}/extract/*.cpp)
set(SFX_STUB_SOURCES ${SFX_CORE_SOURCES} ${SFX_SRC}/common/FileIO_win32.cpp ${SFX_SRC}/decode/Crypto_cng.cpp
    ${SFX_SRC}/common/WideText_win32.cpp ${SFX_UI_SOURCES}
    ${SFX_SRC}/program/Sfx.cpp ${SFX_SRC}/program/Switches.cpp)
list(REMOVE_ITEM SFX_STUB_SOURCES ${SFX_DECODE_SOURCES})
set_source_files_properties(${SFX_STUB_SOURCES} PROPERTIES COMPILE_OPTIONS "${SFX_SIZE_FLAGS}")
# SFXmisc.cpp holds the CRC routine the decoder runs over every byte: its
# loop wants its variables coalesced, as they are at -Os (without, decoding
# text took 2 % more instructions per byte), and at -Os, not -Oz.
set_source_files_properties(${SFX_SRC}/common/SFXmisc.cpp PROPERTIES
    COMPILE_OPTIONS "${SFX_SIZE_FLAGS};-Os;-ftree-coalesce-vars")

# Everything but the entry point, so the Windows test programs run the very
# code of the stub.
add_library(sfxwin STATIC ${SFX_CORE_SOURCES} ${SFX_SRC}/common/FileIO_win32.cpp ${SFX_SRC}/decode/Crypto_cng.cpp
            ${SFX_SRC}/common/WideText_win32.cpp ${SFX_UI_SOURCES})
target_compile_options(sfxwin PRIVATE ${SFX_WIN_FLAGS})
target_compile_definitions(sfxwin PUBLIC SFX_STUB $<$<BOOL:${SFX_STUB_AES}>:SFX_STUB_AES>)
target_include_directories(sfxwin PUBLIC ${SFX_SRC})
# The same with the AES entries decoded, whatever the stub's image holds:
# the Windows tests drive the driver's AES road through it, over Wine's CNG.
add_library(sfxwin_aes STATIC ${SFX_CORE_SOURCES} ${SFX_SRC}/common/FileIO_win32.cpp ${SFX_SRC}/decode/Crypto_cng.cpp
            ${SFX_SRC}/common/WideText_win32.cpp ${SFX_UI_SOURCES})
target_compile_options(sfxwin_aes PRIVATE ${SFX_WIN_FLAGS})
target_compile_definitions(sfxwin_aes PUBLIC SFX_STUB SFX_STUB_AES)
target_include_directories(sfxwin_aes PUBLIC ${SFX_SRC})

set(SFX_RC ${SFX_SRC}/resources/sfx.rc)
file(GLOB SFX_RC_PARTS CONFIGURE_DEPENDS ${SFX_SRC}/resources/*.rc ${SFX_SRC}/resources/*.h
     ${SFX_SRC}/resources/sfx.ico ${SFX_SRC}/resources/sfx.manifest)
set_source_files_properties(${SFX_RC} PROPERTIES OBJECT_DEPENDS "${SFX_RC_PARTS}")
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -I${SFX_SRC}/resources -c 65001")
add_library(sfxres OBJECT ${SFX_RC})

add_executable(sfx_image WIN32 ${SFX_SRC}/program/Sfx.cpp ${SFX_SRC}/program/Switches.cpp $<TARGET_OBJECTS:sfxres>)
target_compile_options(sfx_image PRIVATE ${SFX_WIN_FLAGS})
target_link_libraries(sfx_image PRIVATE sfxwin)
# The link compiles the optimised units, so it takes the same options (the
# frame limit included).  cmake/stub.ld lays the image out.
target_link_options(sfx_image PRIVATE ${SFX_WIN_FLAGS} ${SFX_SIZE_FLAGS} -nostdlib -s
    -Wl,--gc-sections -Wl,-e,_SfxStart@0 -Wl,-u,__load_config_used
    -Wl,--exclude-all-symbols -Wl,--no-insert-timestamp -Wl,-T,${CMAKE_SOURCE_DIR}/cmake/stub.ld)
set_target_properties(sfx_image PROPERTIES LINK_DEPENDS ${CMAKE_SOURCE_DIR}/cmake/stub.ld)
# No link time in the header: the same source gives the same stub, so its
# hash can be checked against a build of the release's commit.
# The compiler is kept from turning loops into library calls, and the stub
# links no library beyond the system's: a call into the C library (memcmp)
# or a helper of libgcc (a 64-bit division) fails the link with an
# undefined reference.  With those libraries on the line, this linker
# crashed (signal 11) on a symbol that link-time optimisation first asked
# for.
target_link_libraries(sfx_image PRIVATE ${SFX_WIN_LIBS})
set_target_properties(sfx_image PROPERTIES OUTPUT_NAME sfx_image)

find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/sfx.exe
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/scripts/pad_stub.py
            $<TARGET_FILE:sfx_image> ${CMAKE_BINARY_DIR}/sfx.exe
    DEPENDS sfx_image ${CMAKE_SOURCE_DIR}/scripts/pad_stub.py ${SFX_SRC}/common/SfxFormat.h
    COMMENT "Padding the stub to 0x9800 bytes")
add_custom_target(sfx ALL DEPENDS ${CMAKE_BINARY_DIR}/sfx.exe)
add_test(NAME stub.reproducible
         COMMAND ${CMAKE_SOURCE_DIR}/scripts/check_reproducible.sh ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/sfx.exe)
# The padding script's guards, each shown a copy of the image spoiled the way
# it must refuse.
add_test(NAME stub.pad_checks
         COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/win/pad_stub_test.py
                 ${CMAKE_SOURCE_DIR}/scripts/pad_stub.py $<TARGET_FILE:sfx_image>)
add_test(NAME stub.manifest
         COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/win/manifest_test.py
                 ${SFX_SRC}/resources/sfx.manifest ${CMAKE_BINARY_DIR}/sfx.exe)

# Windows test programs, run under Wine by scripts/wine-run.sh.
function(sfx_win_test name)
  # The stub's resources come along, so the prompts and dialogs that the
  # tests drive are the real templates.
  add_executable(${name} ${ARGN} $<TARGET_OBJECTS:sfxres>)
  target_compile_options(${name} PRIVATE -O1 -fexec-charset=CP949 -Wall)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/win ${SFX_SRC})
  # A test may run the stub's code with the AES entries decoded
  # (SFX_WIN_TEST_CORE sfxwin_aes), whatever the image holds.
  if(NOT SFX_WIN_TEST_CORE)
    set(SFX_WIN_TEST_CORE sfxwin)
  endif()
  target_link_libraries(${name} PRIVATE ${SFX_WIN_TEST_CORE} ${SFX_WIN_LIBS})
  target_link_options(${name} PRIVATE -static -static-libgcc -static-libstdc++)
  add_test(NAME win.${name} COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-run.sh $<TARGET_FILE:${name}>
           WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
  # A program's scratch folders have fixed names in the one prefix: its runs
  # in other locales or resolutions (same lock) must not overlap it.
  set_tests_properties(win.${name} PROPERTIES RESOURCE_LOCK ${name})
endfunction()

if(SFX_TESTS)
  add_subdirectory(tests/win)
endif()
if(EXISTS ${CMAKE_SOURCE_DIR}/tools/CMakeLists.txt)
  add_subdirectory(tools)
endif()
