# Tests of the engine's foundation: slot life, resize, disk layer, URL split,
# sockets and the record layout. The pure pieces are reached through the
# internal static library; the slot life goes through libtorvane.so exactly
# as a client sees it.
torvane_add_test(engine_unit_test unit
  ranges_test.cpp
  url_split_test.cpp
  disk_io_test.cpp
  copy_itemdata_test.cpp
  layout_test.cpp
  header_c_test.c)
target_link_libraries(engine_unit_test PRIVATE torvane_test_support torvane_engine_internal)
set_source_files_properties(header_c_test.c PROPERTIES COMPILE_OPTIONS "-std=c11;-Wall;-Wextra")

torvane_add_test(engine_slots_test integration
  slots_test.cpp
  resume_test.cpp
  resize_test.cpp)
target_link_libraries(engine_slots_test PRIVATE torvane_test_support torvane)

torvane_add_test(engine_socket_test integration connect_test.cpp)
target_link_libraries(engine_socket_test PRIVATE torvane_test_support torvane_engine_internal)

add_test(NAME engine_exports COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/check_exports.sh $<TARGET_FILE:torvane>)
set_tests_properties(engine_exports PROPERTIES LABELS unit TIMEOUT 60)
