# Workbook device lists (.xlsx) are zip archives, opened with QuaZip; their
# parts are read with Qt's XML stream reader.
find_package(QuaZip-Qt5 REQUIRED)
target_link_libraries(fieldmate_core PUBLIC QuaZip::QuaZip)
