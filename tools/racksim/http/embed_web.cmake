# Writes OUT, a C++ source holding the files FILES (names relative to DIR) as byte arrays and a
# table of them for find_web_file(). Run at build time whenever one of the files changes.
string(REPLACE "," ";" FILES "${FILES}")
set(arrays "")
set(table "")
set(i 0)
foreach(name IN LISTS FILES)
  file(READ "${DIR}/${name}" hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  # Lines of 16 bytes keep the file readable in a diff tool.
  string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n    " bytes "${bytes}")
  string(APPEND arrays "const unsigned char file${i}[] = {\n    ${bytes}0};\n")
  string(APPEND table "    {\"${name}\", file${i}, ${size}},\n")
  math(EXPR i "${i} + 1")
endforeach()
file(WRITE "${OUT}.new" "// Made by tools/racksim/http/embed_web.cmake from tools/racksim/web; not to be edited.
#include <cstring>

#include \"http/web_files.h\"

namespace racksim {

namespace {

${arrays}
const WebFile files[] = {
${table}};

}  // namespace

const WebFile* find_web_file(const std::string& name) {
    for (const WebFile& f : files) {
        if (name == f.name) return &f;
    }
    return nullptr;
}

}  // namespace racksim
")
file(COPY_FILE "${OUT}.new" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.new")
