# Behaviour of whole downloads against the scripted server, through
# libtorvane.so as a client sees it.
torvane_add_test(engine_download_test integration
  download_status_test.cpp
  download_flow_test.cpp)
target_link_libraries(engine_download_test PRIVATE torvane_test_support torvane)
