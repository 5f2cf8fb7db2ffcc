# elfutils unwinds the threads of a crashed process for the symbolic
# backtraces of the crash report (app/coredump.cpp).
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
    pkg_check_modules(LIBDW REQUIRED IMPORTED_TARGET libdw)
    target_link_libraries(fieldmate_core PUBLIC PkgConfig::LIBDW)
    set_source_files_properties(app/coredump.cpp PROPERTIES COMPILE_DEFINITIONS FM_HAVE_LIBDW)
endif()
