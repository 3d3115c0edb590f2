# The library as qapi.dll.  Its exports are the QAPI_ names of qapi.def,
# undecorated: the 32-bit build's __stdcall symbols (QAPI_Stack_initialize@4)
# are linked to them, and the decorated names that dllexport adds are dropped.
# (The top-level build links the compiler's runtime in and puts every
# program in bin/, beside the DLL.)

target_compile_definitions(qapi_objects PRIVATE QAPI_BUILD_DLL)
# The tests link the objects themselves: they call them directly, not
# through the DLL's import table.
target_compile_definitions(qapi_internal INTERFACE QAPI_BUILD_DLL)
target_link_libraries(qapi_internal PUBLIC ws2_32 user32)

add_library(qapi SHARED $<TARGET_OBJECTS:qapi_objects> ${PROJECT_SOURCE_DIR}/src/platform/win32/qapi.def)
set_target_properties(qapi PROPERTIES PREFIX "" ARCHIVE_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})
target_include_directories(qapi PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
                                       $<BUILD_INTERFACE:${PROJECT_BINARY_DIR}/include>)
target_link_libraries(qapi PRIVATE ws2_32 user32)
if(MINGW)
  target_link_options(qapi PRIVATE -Wl,--kill-at -Wl,--enable-stdcall-fixup)
  # The import library that the linker wrote knows only the plain names.
  add_dependencies(qapi qapi_internal)
  add_custom_command(TARGET qapi POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -DDLLTOOL=${CMAKE_DLLTOOL}
            -DARCHIVE=$<TARGET_FILE:qapi_internal> -DDEF=${PROJECT_BINARY_DIR}/qapi-import.def
            -DIMPLIB=$<TARGET_LINKER_FILE:qapi> -P ${PROJECT_SOURCE_DIR}/cmake/import-library.cmake
    VERBATIM)
endif()

# The export table: the 29 QAPI_ names and nothing else.
add_test(NAME dll_exports
  COMMAND ${PROJECT_SOURCE_DIR}/tests/windows/check-dll-exports.sh ${CMAKE_OBJDUMP} $<TARGET_FILE:qapi>)

# The 32-bit layouts of the payload records, checked by the compiler.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  add_library(qapi_layout_x86 OBJECT ${PROJECT_SOURCE_DIR}/tests/windows/layout_x86.c)
  target_include_directories(qapi_layout_x86 PRIVATE ${QAPI_PUBLIC_INCLUDES})
  set_target_properties(qapi_layout_x86 PROPERTIES C_STANDARD 11 C_EXTENSIONS OFF)
endif()
