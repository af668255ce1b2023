# Writes a C++ source holding the stub's bytes:
#   cmake -DSTUB=<sfx.exe or empty> -DOUT=<file.cpp> -P EmbedStub.cmake
# An empty or missing STUB gives an empty array; the builder then asks for
# --stub.
set(hex "")
if(STUB AND EXISTS "${STUB}")
  file(READ "${STUB}" hex HEX)
endif()
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
# Lines of 24 bytes keep the file readable in a diff tool.
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){24})" "\\1\n" bytes "${bytes}")
file(WRITE "${OUT}.new"
"// Generated from ${STUB} by tools/EmbedStub.cmake; do not edit.\n"
"namespace mksfx {\n"
"extern const unsigned char EmbeddedStub[];\n"
"extern const unsigned int EmbeddedStubSize;\n"
"const unsigned char EmbeddedStub[] = {\n${bytes}0};\n"
"const unsigned int EmbeddedStubSize = ${size};\n"
"}\n")
file(COPY_FILE "${OUT}.new" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.new")
