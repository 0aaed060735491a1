# Writes the glyph table of the icon font as a QML script library, from the font package's own list.
# Usage: cmake -DINPUT=<package>/scss/_variables.scss -DOUTPUT=<file.js> -P GenerateGlyphs.cmake
if(NOT DEFINED INPUT OR NOT DEFINED OUTPUT)
    message(FATAL_ERROR "GenerateGlyphs.cmake needs -DINPUT=... and -DOUTPUT=...")
endif()

file(STRINGS "${INPUT}" lines REGEX "^[ \t]*\"[a-z0-9-]+\": *F[0-9A-Fa-f]+,?[ \t]*$")
set(entries)
foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[ \t]*\"([a-z0-9-]+)\": *(F[0-9A-Fa-f]+).*$" "\\1;\\2" pair "${line}")
    list(GET pair 0 name)
    list(GET pair 1 code)
    string(TOUPPER "${code}" code)
    list(APPEND entries "${name} ${code}")
endforeach()

list(LENGTH entries count)
if(count EQUAL 0)
    message(FATAL_ERROR "No glyphs found in ${INPUT}")
endif()
# By name in plain byte order; the space before the code point sorts below every character of a name.
list(SORT entries COMPARE STRING)

set(body "")
set(separator "")
foreach(entry IN LISTS entries)
    string(REPLACE " " ";" pair "${entry}")
    list(GET pair 0 name)
    list(GET pair 1 code)
    string(APPEND body "${separator}    \"${name}\": \"\\u${code}\"")
    set(separator ",\n")
endforeach()

file(WRITE "${OUTPUT}.tmp" ".pragma library\n\n// Generated from the Material Design Icons package: ${count} glyph names and their code points.\nvar glyphs = {\n${body}\n};\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
