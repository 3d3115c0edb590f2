# Writes the import library of qapi.dll for C and C++ callers.  A 32-bit
# caller compiled against qapi.h refers to the __stdcall names with their
# decoration (QAPI_Stack_initialize@4), while the DLL exports the plain names:
# the import library pairs each decorated name with the plain one it
# imports.  The decorated names are read from the library's own objects.
#
#   cmake -DNM=... -DDLLTOOL=... -DARCHIVE=libqapi_internal.a -DDEF=out.def
#         -DIMPLIB=libqapi.dll.a -P import-library.cmake
execute_process(COMMAND ${NM} -g --defined-only ${ARCHIVE}
                OUTPUT_VARIABLE symbols RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${NM} could not read ${ARCHIVE}")
endif()
string(REGEX MATCHALL " T _?QAPI_[A-Za-z_]+(@[0-9]+)?" exports "${symbols}")
set(def "LIBRARY qapi.dll\nEXPORTS\n")
foreach(entry IN LISTS exports)
  string(REGEX REPLACE "^ T _?" "" name "${entry}")
  string(APPEND def "    ${name}\n")
endforeach()
file(WRITE ${DEF} "${def}")
execute_process(COMMAND ${DLLTOOL} --def ${DEF} --dllname qapi.dll --output-lib ${IMPLIB} --kill-at
                RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${DLLTOOL} could not write ${IMPLIB}")
endif()
