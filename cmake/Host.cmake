# Host build: the portable parts as a library for tests, fuzzers, benchmarks
# and the builder.
add_library(sfxcore STATIC ${SFX_CORE_SOURCES} ${SFX_SRC}/common/FileIO_posix.cpp
            ${SFX_SRC}/decode/Crypto_openssl.cpp)
# The AES entries' primitives come from OpenSSL's libcrypto here (Windows: CNG).
find_package(OpenSSL REQUIRED COMPONENTS Crypto)
target_link_libraries(sfxcore PUBLIC OpenSSL::Crypto)
target_include_directories(sfxcore PUBLIC ${SFX_SRC})
target_compile_options(sfxcore PRIVATE -O2 $<$<CXX_COMPILER_ID:GNU>:-fexec-charset=CP949> -Wall -Wextra -Wno-unused-parameter)

if(SFX_TESTS)
  add_subdirectory(tests/host)
  add_test(NAME setup.failure_paths
           COMMAND bash ${CMAKE_SOURCE_DIR}/tests/scripts/setup_test.sh ${CMAKE_SOURCE_DIR}/scripts/setup.sh)
endif()
if(SFX_FUZZ AND EXISTS ${CMAKE_SOURCE_DIR}/fuzz/CMakeLists.txt)
  add_subdirectory(fuzz)
endif()
if(SFX_BENCH AND EXISTS ${CMAKE_SOURCE_DIR}/bench/CMakeLists.txt)
  add_subdirectory(bench)
endif()
if(EXISTS ${CMAKE_SOURCE_DIR}/tools/CMakeLists.txt)
  add_subdirectory(tools)
endif()
