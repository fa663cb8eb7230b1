# The engine's foundation: pure pieces through the internal library, slot
# life through libtorvane.so as a C or C++ client sees it.
torvane_add_test(engine_unit_test unit disk_io_test.cpp url_split_test.cpp copy_itemdata_test.cpp)
target_link_libraries(engine_unit_test PRIVATE torvane_test_support torvane_engine_internal)

torvane_add_test(engine_slots_test integration slots_test.cpp header_c_test.c)
target_link_libraries(engine_slots_test PRIVATE torvane_test_support torvane)
set_source_files_properties(header_c_test.c PROPERTIES COMPILE_OPTIONS "-std=c11;-Wall;-Wextra")

add_test(NAME engine_exports COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/check_exports.sh $<TARGET_FILE:torvane>)
set_tests_properties(engine_exports PROPERTIES LABELS unit TIMEOUT 60)
