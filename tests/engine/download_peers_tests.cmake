# Request texts and header reading as pure functions (through the internal
# static library), and whole downloads from real peers (nginx, tinyproxy)
# through libtorvane.so as a client sees it.
torvane_add_test(http_message_test unit http_message_test.cpp)
target_link_libraries(http_message_test PRIVATE torvane_test_support torvane_engine_internal)

torvane_add_test(real_peers_download_test integration real_peers_download_test.cpp)
target_link_libraries(real_peers_download_test PRIVATE torvane_test_support torvane)
