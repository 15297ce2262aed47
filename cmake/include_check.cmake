# Refuses an include spelled with "../" or an absolute path in any source
# under ROOT: the compiler would find such a file beside the including one,
# passing by the layers' include roots. Run by the build before any library,
# and by a test on a probe that must be refused.
if(NOT ROOT)
    message(FATAL_ERROR "include_check: ROOT is not set")
endif()
file(GLOB_RECURSE sources "${ROOT}/*.cpp" "${ROOT}/*.h")
set(found "")
foreach(source IN LISTS sources)
    file(STRINGS "${source}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<](/|[^\">]*\\.\\./)")
    foreach(line IN LISTS lines)
        string(APPEND found "\n  ${source}: ${line}")
    endforeach()
endforeach()
if(found)
    message(FATAL_ERROR "includes that pass by the layers' roots:${found}")
endif()
