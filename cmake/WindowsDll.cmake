# vantrel.dll: the Windows form of the shared library.
#
# It exports exactly the five functions, under their plain names, listed in a
# module-definition file generated here. The 32-bit DLL uses __stdcall, whose
# symbols carry the size of their arguments ("Login@16"): the .def names them
# so, and --kill-at exports them undecorated, while the import library maps
# the decorated names that 32-bit callers reference to the plain exports.

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(vantrel_export_names Login@16 Logoff@0 GetExceptionHandler@0 GetLastQuotes@28 GetLastNQuotes@24)
  target_link_options(vantrel PRIVATE -Wl,--kill-at)
  # The linker's own import library would name the plain symbols; dlltool
  # with --kill-at writes one whose symbols keep the decoration (_Login@16)
  # and import the plain names.
  find_program(VANTREL_DLLTOOL NAMES ${CMAKE_DLLTOOL} ${VANTREL_MINGW_TRIPLE}-dlltool REQUIRED)
  add_custom_command(TARGET vantrel POST_BUILD
    COMMAND ${VANTREL_DLLTOOL} --kill-at --input-def ${PROJECT_BINARY_DIR}/vantrel.def
            --dllname vantrel.dll --output-lib $<TARGET_LINKER_FILE:vantrel>
    VERBATIM)
else()
  set(vantrel_export_names Login Logoff GetExceptionHandler GetLastQuotes GetLastNQuotes)
endif()
list(JOIN vantrel_export_names "\n  " vantrel_exports)
set(VANTREL_DEF_FILE ${PROJECT_BINARY_DIR}/vantrel.def)
file(CONFIGURE OUTPUT ${VANTREL_DEF_FILE} CONTENT "LIBRARY vantrel.dll
EXPORTS
  ${vantrel_exports}
")

target_sources(vantrel PRIVATE
  ${VANTREL_DEF_FILE}
  ${PROJECT_SOURCE_DIR}/platform/win32/DllMain.cpp
  $<TARGET_OBJECTS:vantrel_fix44_resource>)
target_link_libraries(vantrel PRIVATE ws2_32 ole32 oleaut32)
target_link_libraries(vantrel PRIVATE vantrel_warnings)
target_include_directories(vantrel PRIVATE ${PROJECT_SOURCE_DIR})
set_source_files_properties(${PROJECT_SOURCE_DIR}/platform/win32/DllMain.cpp PROPERTIES COMPILE_OPTIONS -std=c++17)
set_target_properties(vantrel PROPERTIES PREFIX "" LINK_DEPENDS ${VANTREL_DEF_FILE})
target_link_options(vantrel PRIVATE -Wl,--no-undefined)
