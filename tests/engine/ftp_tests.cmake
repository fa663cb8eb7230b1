# Tests of the FTP control-connection layer. The unit test reaches the
# complete-reply test through the internal static library; the login test
# goes through the exports of libtorvane.so: the thread's life, and logins
# against the test itself as a server and a pyftpdlib server it starts.
torvane_add_test(ftp_unit_test unit ftp_unit_test.cpp)
target_link_libraries(ftp_unit_test PRIVATE torvane_engine_internal)

# pyftpdlib is a Debian package of the system interpreter; a pyenv or venv
# python3 earlier on PATH usually lacks it.
find_program(TORVANE_FTP_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
if(NOT TORVANE_FTP_PYTHON)
  find_program(TORVANE_FTP_PYTHON NAMES python3)
endif()

torvane_add_test(ftp_login_test integration ftp_login_test.cpp)
target_link_libraries(ftp_login_test PRIVATE torvane torvane_test_support)
target_compile_definitions(ftp_login_test PRIVATE
  TORVANE_FTP_PYTHON="${TORVANE_FTP_PYTHON}"
  TORVANE_FTP_SERVER_SCRIPT="${PROJECT_SOURCE_DIR}/tests/support/ftp_server.py")
