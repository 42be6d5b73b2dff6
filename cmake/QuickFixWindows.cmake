# QuickFIX for the Windows build, compiled from Debian's source package
# (scripts/build-windows.sh unpacks it and passes its directory in
# VANTREL_QUICKFIX_SOURCE_DIR).
#
# QuickFIX picks its Windows code by testing _MSC_VER, and includes
# <Winsock2.h> with a capital letter. Defining _MSC_VER for MinGW would also
# switch MinGW's own headers to their MSVC paths, so instead the configure
# step writes a copy of QuickFIX's sources into the build tree in which
# QuickFIX's own test reads VANTREL_QUICKFIX_WIN32 and the include names
# MinGW's <winsock2.h>, and QuickFIX's own "typedef int ssize_t" (MinGW
# has ssize_t, 64-bit on x86-64) is left out; the build then defines
# VANTREL_QUICKFIX_WIN32. The
# bundled pugixml and double-conversion know MinGW already and are copied
# unchanged. Only the units the library needs are compiled, into the static
# library vantrel_quickfix_engine, which stands behind the same target name
# (PkgConfig::QUICKFIX) as the Debian package on Linux.

set(VANTREL_QUICKFIX_SOURCE_DIR "" CACHE PATH "Unpacked QuickFIX source package (the directory holding src/C++)")
set(qf_src ${VANTREL_QUICKFIX_SOURCE_DIR}/src/C++)
if(NOT EXISTS ${qf_src}/Message.cpp)
  message(FATAL_ERROR "VANTREL_QUICKFIX_SOURCE_DIR must name the unpacked QuickFIX source package "
                      "(run scripts/build-windows.sh, which fetches it)")
endif()

set(qf_root ${CMAKE_BINARY_DIR}/quickfix-win)
set(qf_out ${qf_root}/quickfix)

# Writes `content` to `path` only when it differs, so that reconfiguring does
# not rebuild QuickFIX.
function(vantrel_write_if_changed path content)
  if(EXISTS ${path})
    file(READ ${path} old)
    if(old STREQUAL content)
      return()
    endif()
  endif()
  file(WRITE ${path} "${content}")
endfunction()

file(GLOB qf_own RELATIVE ${qf_src} ${qf_src}/*.h ${qf_src}/*.cpp ${qf_src}/fix44/*.h)
# pugixml.cpp is bundled, copied unchanged below; editing it here as well
# rewrote it at every configure and recompiled it and relinked every program.
list(REMOVE_ITEM qf_own pugixml.cpp)
foreach(name IN LISTS qf_own)
  file(READ ${qf_src}/${name} content)
  string(REPLACE "_MSC_VER" "VANTREL_QUICKFIX_WIN32" content "${content}")
  string(REPLACE "<Winsock2.h>" "<winsock2.h>" content "${content}")
  string(REPLACE "typedef int ssize_t;" "" content "${content}")
  vantrel_write_if_changed(${qf_out}/${name} "${content}")
endforeach()
file(GLOB qf_bundled RELATIVE ${qf_src} ${qf_src}/pugi*.hpp ${qf_src}/pugixml.cpp ${qf_src}/double-conversion/*)
foreach(name IN LISTS qf_bundled)
  configure_file(${qf_src}/${name} ${qf_out}/${name} COPYONLY)
endforeach()
# stdafx.h includes "../config_windows.h".
configure_file(${VANTREL_QUICKFIX_SOURCE_DIR}/src/config_windows.h ${qf_root}/config_windows.h COPYONLY)

set(qf_units Message DataDictionary FieldMap FieldConvertors Dictionary Group MessageSorters
             FieldTypes Utility PUGIXML_DOMDocument pugixml)
set(qf_sources)
foreach(unit IN LISTS qf_units)
  list(APPEND qf_sources ${qf_out}/${unit}.cpp)
endforeach()

add_library(vantrel_quickfix_engine STATIC ${qf_sources})
set_target_properties(vantrel_quickfix_engine PROPERTIES CXX_STANDARD 14 CXX_STANDARD_REQUIRED ON CXX_EXTENSIONS ON)
target_compile_definitions(vantrel_quickfix_engine PUBLIC VANTREL_QUICKFIX_WIN32=1900)
# -fpermissive: Utility.cpp casts a HANDLE to unsigned (thread_self, unused
# here), which MSVC accepts and GCC rejects on x86-64.
target_compile_options(vantrel_quickfix_engine PRIVATE -w -fpermissive)
# A system include directory: QuickFIX's own warnings (MSVC pragmas,
# deprecated std::auto_ptr) are not ours to fix.
target_include_directories(vantrel_quickfix_engine SYSTEM PUBLIC ${qf_root})
target_include_directories(vantrel_quickfix_engine PRIVATE ${qf_out})
target_link_libraries(vantrel_quickfix_engine PUBLIC ws2_32)

add_library(PkgConfig::QUICKFIX INTERFACE IMPORTED)
target_link_libraries(PkgConfig::QUICKFIX INTERFACE vantrel_quickfix_engine)
