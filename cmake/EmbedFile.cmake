# cmake -DINPUT=file -DOUTPUT=file.cpp -DSYMBOL=name -DSKIP=n -P EmbedFile.cmake
# Writes a C++ source defining `const unsigned char SYMBOL[]` and `SYMBOL_size` with the bytes of
# INPUT after its first SKIP bytes.
file(READ "${INPUT}" hex HEX)
if(NOT SKIP)
  set(SKIP 0)
endif()
math(EXPR skip_digits "${SKIP} * 2")
string(SUBSTRING "${hex}" ${skip_digits} -1 hex)
string(LENGTH "${hex}" digits)
math(EXPR bytes "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," body "${hex}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n" body "${body}")
file(WRITE "${OUTPUT}" "// Generated from ${INPUT}; do not edit.\n#include <cstddef>\nalignas(4) extern const unsigned char ${SYMBOL}[] = {\n${body}\n};\nextern const size_t ${SYMBOL}_size = ${bytes};\n")
