# cmake -DINPUT=texts.txt -DOUTPUT=texts.h -DWORK=dir -P GenerateTexts.cmake
# Writes every text twice as byte-exact C++ constants: UTF-8 as written, and Big5 (code page 950)
# produced by iconv. Each byte is a \x escape of its own string piece, so no byte (0x5C among them)
# can be misread by the compiler.
find_program(ICONV iconv REQUIRED)
file(STRINGS "${INPUT}" lines ENCODING UTF-8)

function(bytes_literal file out)
  file(READ "${file}" hex HEX)
  string(LENGTH "${hex}" n)
  set(lit "")
  set(i 0)
  while(i LESS n)
    string(SUBSTRING "${hex}" ${i} 2 byte)
    string(APPEND lit "\"\\x${byte}\"")
    math(EXPR i "${i} + 2")
  endwhile()
  math(EXPR count "${n} / 2")
  if(lit STREQUAL "")
    set(lit "\"\"")
  endif()
  set(${out} "std::string_view{${lit}, ${count}}" PARENT_SCOPE)
endfunction()

set(utf8 "")
set(big5 "")
set(table "")
file(MAKE_DIRECTORY "${WORK}")
foreach(line IN LISTS lines)
  if(line MATCHES "^#" OR line STREQUAL "")
    continue()
  endif()
  if(NOT line MATCHES "^([A-Za-z0-9_]+)\t(.*)$")
    message(FATAL_ERROR "texts: malformed line: ${line}")
  endif()
  set(name "${CMAKE_MATCH_1}")
  set(value "${CMAKE_MATCH_2}")
  string(REPLACE "\\n" "\n" value "${value}")
  file(WRITE "${WORK}/${name}.utf8" "${value}")
  execute_process(COMMAND "${ICONV}" -f UTF-8 -t CP950 "${WORK}/${name}.utf8"
                  OUTPUT_FILE "${WORK}/${name}.big5" RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "texts: ${name} has no Big5 form")
  endif()
  bytes_literal("${WORK}/${name}.utf8" u)
  bytes_literal("${WORK}/${name}.big5" b)
  string(APPEND utf8 "inline constexpr std::string_view ${name} = ${u};\n")
  string(APPEND big5 "inline constexpr std::string_view ${name} = ${b};\n")
  string(APPEND table "    {\"${name}\", text::${name}, big5::${name}},\n")
endforeach()

file(WRITE "${OUTPUT}.tmp"
"// Generated from resources/texts.txt; do not edit.\n#pragma once\n#include <string_view>\n\n"
"namespace zivra::text {\n${utf8}}  // namespace zivra::text\n\n"
"namespace zivra::big5 {\n${big5}}  // namespace zivra::big5\n\n"
"namespace zivra::texts {\nstruct Entry {\n  std::string_view name, utf8, big5;\n};\n"
"// Every text, for checks over the whole table.\ninline constexpr Entry kAll[] = {\n${table}};\n"
"}  // namespace zivra::texts\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
