# Spreadsheet device lists (.xlsx) are read with liborcus and its cell model.
# The spreadsheet-model pkg-config file names an include folder that Debian
# does not ship, so only the libraries are taken from pkg-config and the real
# include folders are added here.
pkg_check_modules(ORCUS REQUIRED liborcus-0.17 liborcus-spreadsheet-model-0.17 libixion-0.17)
find_path(FM_ORCUS_INCLUDE_DIR orcus/orcus_xlsx.hpp PATH_SUFFIXES liborcus-0.17 REQUIRED)
find_path(FM_IXION_INCLUDE_DIR ixion/model_context.hpp PATH_SUFFIXES libixion-0.17 REQUIRED)
target_include_directories(fieldmate_core SYSTEM PRIVATE
    ${FM_ORCUS_INCLUDE_DIR} ${FM_IXION_INCLUDE_DIR})
target_link_directories(fieldmate_core PUBLIC ${ORCUS_LIBRARY_DIRS})
target_link_libraries(fieldmate_core PUBLIC ${ORCUS_LIBRARIES})
