# Writes OUTPUT: a C++ file holding each of FILES (a ;-list of paths) as a
# byte array, and embeddedWebFiles() listing them by base name. Run at build
# time, so an edited page is rebuilt into the program.
set(arrays "")
set(rows "")
set(index 0)
foreach(path IN LISTS FILES)
  get_filename_component(name "${path}" NAME)
  file(READ "${path}" hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
  string(APPEND arrays "const unsigned char kFile${index}[] = {\n${bytes}0};\n")
  string(APPEND rows "    {\"${name}\", std::string_view(reinterpret_cast<const char *>(kFile${index}), ${size})},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE "${OUTPUT}.new"
"// Generated from src/server/web by embed.cmake; do not edit.\n"
"#include \"server/web_page.h\"\n\n"
"namespace {\n"
"${arrays}"
"const EmbeddedFile kFiles[] = {\n${rows}};\n"
"} // namespace\n\n"
"std::span<const EmbeddedFile> embeddedWebFiles()\n{\n    return kFiles;\n}\n")
# Touch the output only when it changed: no needless recompiles.
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different "${OUTPUT}.new" "${OUTPUT}")
file(REMOVE "${OUTPUT}.new")
