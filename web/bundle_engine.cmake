# Writes the engine script: `function pevEngine(port) { PARTS... }`.
# Usage: cmake -DOUTPUT=FILE "-DPARTS=A;B;..." -P bundle_engine.cmake
#
# A page opened from disk may not start a worker from a script file, but it
# may from a Blob of script text; wrapping everything the worker runs in one
# function lets the page take that text from the function itself.

file(WRITE "${OUTPUT}.part" "function pevEngine(port) {\n")
foreach(part IN LISTS PARTS)
    file(READ "${part}" text)
    file(APPEND "${OUTPUT}.part" "${text}\n")
endforeach()
file(APPEND "${OUTPUT}.part" "}\n")
file(RENAME "${OUTPUT}.part" "${OUTPUT}")
